// The data of the benchmarks: SQLite databases of the component's schema (made by the same code
// as `morvane init`), departments and settings to list, and the setting rows that Append writes,
// both as the client's records and as the plain rows the hand-written baselines bind.
//
// Every function here is setup: none of it is inside a timed section.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "components/objlib/record_list.h"

namespace morvane::bench {

// One row of CB_CostVchTempSet with every column given, in the table's column order.
struct SettingRow {
  std::string FVchClass, FTypeID, FTypeName, FExpDeptID, FExpDeptName, FExpenseID, FExpenseName;
  std::int32_t FAcctID = 0;
  std::string FAcctName;
  std::int32_t FItemClassID = 0;
  std::string FItemClassName;
  std::int32_t FItemID = 0;
  std::string FItemName, FRemark;
  std::int32_t FGroupID = 0;
  std::string FGroupName;
};

// `count` rows of voucher class `vchClass` with distinct keys (category 201, departments and
// expenses numbered), all sixteen columns filled.
std::vector<SettingRow> MakeSettingRows(const std::string& vchClass, int count);

// The rows as a client builds them: one KeyedRecord per row, its entries set one by one.
std::shared_ptr<objlib::RecordList> ToRecordList(const std::vector<SettingRow>& rows);

// A new database of the component's schema and seed at `path` (replacing one that is there).
void CreateSchemaDatabase(const std::filesystem::path& path);

// Copies a database file to `to`, replacing it and removing its -wal and -shm files.
void CopyDatabase(const std::filesystem::path& from, const std::filesystem::path& to);

// Adds `basic` departments of type 0, `auxiliary` of type 1, and for every auxiliary department
// a category-201 setting for each tenth other department (what GetAssList joins in).
void AddDepartments(const std::filesystem::path& path, int basic, int auxiliary);

// The sDsn of a database file, as `morvane init` prints it.
std::string DsnOf(const std::filesystem::path& path);
// The connection string inside that sDsn.
std::string ConnectStringOf(const std::filesystem::path& path);

// An open sqlite3 handle set up as the SQLite provider sets up its connections (WAL, a busy
// timeout of five seconds, foreign keys on); closed by the deleter. Throws std::runtime_error.
struct SqliteCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
SqliteHandle OpenSqlite(const std::filesystem::path& path);

// Runs a statement without parameters; throws std::runtime_error with SQLite's message.
void Exec(sqlite3* db, const std::string& sql);
// Throws std::runtime_error naming `what` and SQLite's message when rc is not `expected`.
void Check(sqlite3* db, int rc, int expected, const std::string& what);
// The single integer a query gives.
std::int64_t QueryInt(sqlite3* db, const std::string& sql);

}  // namespace morvane::bench
