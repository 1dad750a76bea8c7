// A fresh SQLite database of the component's schema and seed in a temporary folder, with the
// library's classes registered, and helpers to call the public classes through the runtime and
// to read the settings table back. Used by the service and host tests.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"
#include "provision/database_init.h"
#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/db/connection.h"
#include "platform/db/recordset.h"
#include "platform/mts/runtime.h"
#include "service/module.h"
#include "testing/query_rows.h"

namespace morvane::testing {

using automation::DispatchPtr;
using automation::Variant;

// A fresh database file in a temporary folder, removed again when the object ends.
class TempDatabase {
 public:
  TempDatabase() {
    DllRegisterServer();
    dir_ = std::filesystem::temp_directory_path() /
           ("morvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = dir_ / "test.db";
    provision::InitDatabase({.path = path_, .demo = false, .force = true});
  }
  ~TempDatabase() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
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

  // A record of name/value pairs.
  static std::shared_ptr<objlib::KeyedRecord> Record(std::initializer_list<std::pair<const char*, Variant>> entries) {
    auto r = objlib::KeyedRecord::New();
    for (const auto& [k, v] : entries) r->SetValue(k, v);
    return r;
  }
  static std::shared_ptr<objlib::RecordList> List(std::initializer_list<std::shared_ptr<objlib::KeyedRecord>> items) {
    auto l = objlib::RecordList::New();
    for (const auto& r : items) l->Add(Variant(DispatchPtr(r)));
    return l;
  }
  // A complete setting row of class `vchClass` for the key (type, dept, expense).
  static std::shared_ptr<objlib::KeyedRecord> Setting(const char* vchClass, const char* type, const char* dept,
                                                      const char* expense, const char* remark = "r") {
    return Record({{"FVchClass", vchClass}, {"FTypeID", type}, {"FExpDeptID", dept}, {"FExpenseID", expense},
                   {"FRemark", remark}});
  }

  std::filesystem::path dir_;
  std::filesystem::path path_;
  static inline int counter_ = 0;
};

class ServiceFixture : public ::testing::Test, public TempDatabase {};

// Runs `f` and returns the automation error it raises (fails the test when it raises none).
template <class F>
automation::Error ErrorOf(F&& f) {
  try {
    f();
  } catch (const automation::Error& e) {
    return e;
  }
  ADD_FAILURE() << "expected an error";
  return automation::Error(0, "", "");
}

}  // namespace morvane::testing
