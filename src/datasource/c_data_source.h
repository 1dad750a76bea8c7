// CDataSource: the data source of one call or command builder, built on a CParse (ParseObject).
// It hands out new open connections set up the same way every time, answers the data type
// catalogue's questions (cached per process and product version in the shared property
// manager) and reports the database profile (cached likewise). Used by one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "components/objlib/keyed_record.h"
#include "datasource/c_parse.h"
#include "platform/db/connection.h"

namespace morvane::mts {
class SharedPropertyGroup;
}

namespace morvane::datasource {

class CDataSource {
 public:
  // The parsed description every operation reads, at the moment of the call.
  std::shared_ptr<CParse> ParseObject;

  // A new open connection at isolation level read committed: opened on ConnectString with an
  // empty user and password, client-side cursor, no command timeout, then
  // "SET TRANSACTION ISOLATION LEVEL READ COMMITTED" executed on it. Raises 5 without a
  // "ConnectString" entry (before any connection is made), or the database's error.
  std::shared_ptr<db::Connection> Connection() const;
  // The same with "SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED".
  std::shared_ptr<db::Connection> UnCommittedConnection() const;
  std::string ConnectString() const { return ParseObject->ConStr(); }
  std::string DBMSName() const { return ParseObject->ConDBMSName(); }

  // Data type catalogue (t_DataTypeInfo), loaded once per process and product version.
  std::string GetTypeName(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                          std::int32_t& ActualType, std::int32_t& ActualSize, std::int32_t& BindType) const;
  std::int32_t GetActualType(std::int32_t DataType, const std::int32_t& Precision, std::int32_t& nScale,
                             std::int32_t& ActualSize, std::int32_t& BindType) const;
  std::int32_t GetBindType(std::int32_t DataType) const;
  bool IsOracle() const;
  void LoadDataTypeInfo(mts::SharedPropertyGroup& spmGroup) const;

  // Database profile, loaded once per process and product version.
  std::string DBMSVersion() const;
  bool MultipleResults() const;
  bool LikeEscapeClause() const;
  bool IEF() const;
  std::int32_t NumericFunctions() const;
  std::int32_t StringFunctions() const;
  std::int32_t SystemFunctions() const;
  std::int32_t DateTimeFunctions() const;
  bool ProcSupported(const std::string& ProcName) const;

 private:
  std::shared_ptr<db::Connection> OpenWithIsolation(const char* statement) const;
  std::shared_ptr<objlib::KeyedRecord> GetTypeInfo(std::int32_t DataType) const;
  automation::Variant GetProfileValue(const std::string& name, const bool& RaiseErrors) const;
  bool LoadProfile(const automation::Variant& RaiseErrors) const;
};

}  // namespace morvane::datasource
