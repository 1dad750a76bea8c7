// The integration suite's backends and fixture: every test runs against SQLite through the
// embedded provider and, when scripts/with-databases.sh (or the caller) has set their connection
// strings, against SQLite, PostgreSQL and MariaDB through ODBC:
//
//   MORVANE_TEST_SQLITE_ODBC   MORVANE_TEST_PG   MORVANE_TEST_MARIADB
//
// A backend whose variable is unset is skipped with a message that says so. Each test gets a
// database of its own, made for it and dropped after it (a new file for SQLite; CREATE DATABASE
// beside the one the variable names on the servers), holding the component's tables and the
// sample data made by the product's scripts (provision::InitDatabase or provision::InitServerDatabase, as
// `morvane init --demo` does). So tests never see each other's rows, also when ctest runs them
// in parallel processes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "datasource/c_parse.h"
#include "provision/database_init.h"
#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/type_info.h"
#include "platform/db/connection.h"
#include "platform/db/connection_string.h"
#include "platform/db/pool.h"
#include "platform/db/provider.h"
#include "platform/db/recordset.h"
#include "platform/mts/runtime.h"
#include "service/module.h"
#include "testing/query_rows.h"
#include "testing/raised.h"
#include "testing/setting_records.h"
#include "testing/temp_folder.h"

namespace morvane::integration {

using automation::DispatchPtr;
using automation::Variant;

struct Backend {
  const char* name;
  const char* variable;  // the connection string's environment variable; nullptr: the embedded SQLite
  const char* dbmsName;  // as the driver (or provider) reports it
  // The statement that gives the session's identifier on the server, and the one that ends the
  // session of the identifier "?"; nullptr for a product without server sessions.
  const char* sessionId;
  const char* killSession;
};

inline const Backend kBackends[] = {
    {"SQLite", nullptr, "SQLite", nullptr, nullptr},
    {"SQLiteOdbc", "MORVANE_TEST_SQLITE_ODBC", "SQLite", nullptr, nullptr},
    {"PostgreSQL", "MORVANE_TEST_PG", "PostgreSQL", "SELECT pg_backend_pid()", "SELECT pg_terminate_backend(?)"},
    {"MariaDB", "MORVANE_TEST_MARIADB", "MariaDB", "SELECT CONNECTION_ID()", "KILL ?"},
};

inline void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& param) { return param.param.name; }

class BackendTest : public ::testing::TestWithParam<Backend>, public testing::SettingRecords {
 protected:
  void SetUp() override {
    DllRegisterServer();
    const Backend& backend = GetParam();
    folder_ = std::make_unique<testing::TempFolder>("morvane-integration");
    if (backend.variable != nullptr) {
      const char* cs = std::getenv(backend.variable);
      if (cs == nullptr || *cs == '\0')
        GTEST_SKIP() << backend.name << " skipped: " << backend.variable
                     << " is not set (scripts/with-databases.sh starts the servers and sets it)";
      dsn_ = provision::InitServerDatabase({.connectString = OwnDatabase(cs), .demo = true});
    } else {
      dsn_ = provision::InitDatabase({.path = *folder_ / "test.db", .demo = true});
    }
    datasource::CParse parse;
    parse.ParseString(dsn_);
    connectString_ = parse.ConStr();
  }

  void TearDown() override {
    if (!adminConnection_) return;
    // Pooled connections to the test's database go first, so that it can be dropped.
    db::ConnectionPool::Instance().Clear();
    try {
      adminConnection_->Execute(dropStatement_, {});
    } catch (const automation::Error& e) {
      ADD_FAILURE() << "cannot drop the test database: " << e.Description();
    }
  }

  // The description of the test database in `language`, for user 1 (who holds every right).
  std::string Dsn(const std::string& language = "chs") const {
    std::string dsn = dsn_;
    const std::string entry = ";LANGUAGE=chs;";
    dsn.replace(dsn.find(entry), entry.size(), ";LANGUAGE=" + language + ";");
    return dsn;
  }
  const std::string& ConnectString() const { return connectString_; }

  // Runs a statement on the test database directly, outside the runtime.
  void Exec(const std::string& sql) const {
    auto c = db::Connection::New();
    c->Open(connectString_);
    c->Execute(sql);
  }
  // The rows of a query as text lines "v1|v2|..." (Null as "NULL").
  std::vector<std::string> Rows(const std::string& sql) const { return morvane::testing::RowsOf(connectString_, sql); }
  // The settings of voucher class V1 (the sample data has classes 01 and 02), key columns and
  // remark, in key order.
  std::vector<std::string> Settings() const {
    return Rows(
        "SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID,FRemark FROM CB_CostVchTempSet "
        "WHERE FVchClass = 'V1' ORDER BY FVchClass,FTypeID,FExpDeptID,FExpenseID");
  }

  // The connection string of a new database for this test, on the server (or SQLite file) that
  // `cs` reaches.
  std::string OwnDatabase(const std::string& cs) {
    db::ConnectionString parsed = db::ConnectionString::Parse(cs);
    std::vector<std::pair<std::string, std::string>> entries = parsed.entries();
    std::string name;
    if (std::string(GetParam().dbmsName) == "SQLite") {
      name = (*folder_ / "odbc.db").string();
    } else {
      static int counter = 0;
      name = "morvane_t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
      adminConnection_ = db::ProviderFor(cs).Connect(cs);
      const bool postgres = std::string(GetParam().dbmsName) == "PostgreSQL";
      adminConnection_->Execute(
          "CREATE DATABASE " + name + (postgres ? " ENCODING 'UTF8' TEMPLATE template0" : " CHARACTER SET utf8mb4"),
          {});
      dropStatement_ = "DROP DATABASE " + name + (postgres ? " WITH (FORCE)" : "");
    }
    std::string out;
    bool replaced = false;
    for (auto& [key, value] : entries) {
      if (automation::EqualsIgnoreCase(key, "Database")) value = name, replaced = true;
      out += key + "=" + (key == "Driver" || value.find(';') != std::string::npos ? "{" + value + "}" : value) + ";";
    }
    if (!replaced) out += "Database=" + name + ";";
    return out;
  }

  std::string dsn_;
  std::string connectString_;
  std::unique_ptr<db::PhysicalConnection> adminConnection_;  // made the server database; drops it
  std::string dropStatement_;
  std::unique_ptr<testing::TempFolder> folder_;
};

using testing::ErrorOf;

}  // namespace morvane::integration
