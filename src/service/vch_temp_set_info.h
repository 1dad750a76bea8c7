// VchTempSetInfo: the four list queries over the voucher template settings, one per voucher
// category ("301", "201", "302", "202"). Each returns every department (and expense) pairing of
// its category joined with the settings stored for it, as a RecordList of KeyedRecord rows.
//
// Transaction attribute Supported: a call joins the caller's transaction when there is one. Each
// call votes SetComplete first (a query that fails later has still voted complete), then builds
// its data environment from sDsn. Raises 91 when the object runs without the runtime.
#pragma once

#include <memory>
#include <string>

#include "platform/automation/dispatch_table.h"
#include "service/service_object.h"

namespace morvane::service {

class VchTempSetInfo : public automation::DispatchObject<VchTempSetInfo>, private ServiceObject {
 public:
  static const automation::DispatchTable<VchTempSetInfo>& Table();

  automation::DispatchPtr GetBaseList(const std::string& sDsn);
  automation::DispatchPtr GetAssList(const std::string& sDsn);
  automation::DispatchPtr GetBLendList(const std::string& sDsn);
  automation::DispatchPtr GetALendList(const std::string& sDsn);

 private:
  // The frame of a list query: vote, build the environment, run `sql(language)`, shape the rows.
  template <class BuildSql>
  automation::DispatchPtr RunListQuery(const std::string& sDsn, BuildSql sql);
};

}  // namespace morvane::service
