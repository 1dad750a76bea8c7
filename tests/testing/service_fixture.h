// A fresh SQLite database of the component's schema and seed in a temporary folder, with the
// library's classes registered, and helpers to call the public classes through the runtime and
// to read the settings table back. Used by the service and host tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "provision/database_init.h"
#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/mts/runtime.h"
#include "service/module.h"
#include "testing/query_rows.h"
#include "testing/raised.h"
#include "testing/setting_records.h"
#include "testing/temp_folder.h"

namespace morvane::testing {

using automation::DispatchPtr;
using automation::Variant;

// A fresh database file in a temporary folder, removed again when the object ends.
class TempDatabase : public SettingRecords {
 public:
  TempDatabase() {
    DllRegisterServer();
    provision::InitDatabase({.path = path_, .demo = false, .force = true});
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  std::string ConnectString() const { return "Provider=SQLite;Data Source=" + path_.string(); }
  // A description for the test database in `language` for `userId`.
  std::string Dsn(const std::string& language = "chs", int userId = 1) const {
    return "ConnectString={" + ConnectString() + "};UserName=tester;UserID=" + std::to_string(userId) +
           ";DBMS Name=SQLite;DBMS Version=test;LANGUAGE=" + language + ";AcctType=GY";
  }

  // Runs statements on the database directly (fixture data, checks).
  void Exec(const std::string& sql) const {
    auto c = db::Connection::New();
    c->Open(ConnectString());
    c->Execute(sql);
  }
  // The rows of a query as text lines "v1|v2|..." (Null as "NULL").
  std::vector<std::string> Rows(const std::string& sql) const { return RowsOf(ConnectString(), sql); }
  // The settings table, key columns then remark, in key order.
  std::vector<std::string> Settings() const {
    return Rows("SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID,FRemark FROM CB_CostVchTempSet "
                "ORDER BY FVchClass,FTypeID,FExpDeptID,FExpenseID");
  }

  static DispatchPtr Create(std::string_view progId) { return mts::CreateObject(progId); }

  TempFolder folder_;
  std::filesystem::path dir_ = folder_.path();
  std::filesystem::path path_ = folder_ / "test.db";
};

class ServiceFixture : public ::testing::Test, public TempDatabase {};

}  // namespace morvane::testing
