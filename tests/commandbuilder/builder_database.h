// A small SQLite database for the command builder, error table and catalogue tests, reached
// through a RecordingProvider so that every statement the code under test runs is recorded:
//
//   t_DataTypeInfo   3 int, 202 nvarchar(), 205 image, 7 datetime, 11 bit
//   CB_BmErrCode     codes 10000, 10004 to 10010 with texts "E<code> chs|cht|en" (10008: NULL
//                    in every column)
//   CB_BmErrItem     items 1 "代码", 2 "序号", 3 "名称", 4 "数量"
//   T                FID nvarchar(10), FNo int (key), FName nvarchar(20), FQty int
//   CB_BmStandard    FCode, FUsed
//
// Each database has its own product version in its description, so each loads its own catalogue.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commandbuilder/recording_provider.h"
#include "datasource/c_data_source.h"
#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "service/module.h"
#include "testing/provider_override.h"
#include "testing/raised.h"
#include "testing/setting_records.h"
#include "testing/temp_folder.h"

namespace morvane::testing {

using automation::DispatchPtr;
using automation::Variant;

class BuilderDatabase : public SettingRecords {
 public:
  BuilderDatabase() : provider_(db::sqlite::SqliteProvider::Instance()) {
    DllRegisterServer();
    version_ = "cb-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++);
    path_ = (folder_ / "test.db").string();
    db::sqlite::CreateDatabase(path_);
    auto schema = provider_.Connect(ConnectString());
    schema->Begin();
    for (const char* sql : kSchema) schema->Execute(sql, {});
    schema->Commit();
  }
  BuilderDatabase(const BuilderDatabase&) = delete;
  BuilderDatabase& operator=(const BuilderDatabase&) = delete;

  std::string ConnectString() const { return "Provider=SQLite;Data Source=" + path_; }
  // The description of this database; an empty language leaves the LANGUAGE entry out.
  std::string Dsn(const std::string& language = "chs") const {
    std::string dsn = "ConnectString={" + ConnectString() + "};UserID=1;DBMS Name=SQLite;DBMS Version=" + version_;
    if (!language.empty()) dsn += ";LANGUAGE=" + language;
    return dsn;
  }
  const std::string& Version() const { return version_; }

  // A data source on this database.
  std::shared_ptr<datasource::CDataSource> DataSource(const std::string& language = "chs") const {
    auto parse = std::make_shared<datasource::CParse>();
    parse->ParseString(Dsn(language));
    auto ds = std::make_shared<datasource::CDataSource>();
    ds->ParseObject = parse;
    return ds;
  }

  // Runs a statement on the database itself, past the recording.
  void Exec(const std::string& sql) const { provider_.Connect(ConnectString())->Execute(sql, {}); }
  // The rows of a query as lines "v1|v2|..." (Null as "NULL"), past the recording.
  std::vector<std::string> Rows(const std::string& sql) const {
    const db::ResultSet result = provider_.Connect(ConnectString())->Execute(sql, {});
    std::vector<std::string> lines;
    for (const auto& row : result.rows) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) {
        if (i) line += "|";
        line += row[i].IsNull() ? "NULL" : automation::ToText(row[i]);
      }
      lines.push_back(line);
    }
    return lines;
  }

  RecordingProvider& Recorder() { return recorder_; }
  const RecordingProvider& Recorder() const { return recorder_; }

 private:
  static constexpr const char* kSchema[] = {
      "CREATE TABLE t_DataTypeInfo (FDataType INTEGER, FTypeName TEXT, FMaxPrecision INTEGER, FMinScale INTEGER, "
      "FMaxScale INTEGER, FActualType INTEGER, FBindType INTEGER, FActualSize INTEGER)",
      "INSERT INTO t_DataTypeInfo VALUES (3, 'int', NULL, NULL, NULL, 3, 3, 4)",
      "INSERT INTO t_DataTypeInfo VALUES (202, 'nvarchar()', 4000, NULL, NULL, 202, 202, NULL)",
      "INSERT INTO t_DataTypeInfo VALUES (205, 'image', NULL, NULL, NULL, 205, 205, 2147483647)",
      "INSERT INTO t_DataTypeInfo VALUES (7, 'datetime', NULL, NULL, NULL, 135, 135, 16)",
      "INSERT INTO t_DataTypeInfo VALUES (11, 'bit', NULL, NULL, NULL, 11, 11, 1)",
      "CREATE TABLE CB_BmErrCode (FCode INTEGER PRIMARY KEY, FDescriptive TEXT, FDescriptive_CHT TEXT, "
      "FDescriptive_EN TEXT)",
      "INSERT INTO CB_BmErrCode VALUES (10000, 'E10000 chs', 'E10000 cht', 'E10000 en')",
      "INSERT INTO CB_BmErrCode VALUES (10004, 'E10004 chs', 'E10004 cht', 'E10004 en')",
      "INSERT INTO CB_BmErrCode VALUES (10005, 'E10005 chs', 'E10005 cht', 'E10005 en')",
      "INSERT INTO CB_BmErrCode VALUES (10006, 'E10006 chs', 'E10006 cht', 'E10006 en')",
      "INSERT INTO CB_BmErrCode VALUES (10007, 'E10007 chs', 'E10007 cht', 'E10007 en')",
      "INSERT INTO CB_BmErrCode VALUES (10008, NULL, NULL, NULL)",
      "INSERT INTO CB_BmErrCode VALUES (10009, 'E10009 chs', 'E10009 cht', 'E10009 en')",
      "INSERT INTO CB_BmErrCode VALUES (10010, 'E10010 chs', 'E10010 cht', 'E10010 en')",
      "CREATE TABLE CB_BmErrItem (FItem INTEGER PRIMARY KEY, FDescriptive TEXT)",
      "INSERT INTO CB_BmErrItem VALUES (1, '代码')",
      "INSERT INTO CB_BmErrItem VALUES (2, '序号')",
      "INSERT INTO CB_BmErrItem VALUES (3, '名称')",
      "INSERT INTO CB_BmErrItem VALUES (4, '数量')",
      "CREATE TABLE T (FID NVARCHAR(10) NOT NULL, FNo INTEGER NOT NULL, FName NVARCHAR(20), FQty INTEGER, "
      "PRIMARY KEY (FID, FNo))",
      "CREATE TABLE CB_BmStandard (FCode NVARCHAR(20), FUsed INTEGER)",
  };

  TempFolder folder_{"morvane-cb"};
  db::Provider& provider_;
  RecordingProvider recorder_{provider_};
  ProviderOverride override_{recorder_};
  std::string version_;
  std::string path_;
  static inline int counter_ = 0;
};

}  // namespace morvane::testing
