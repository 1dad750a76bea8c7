#include "bench_data.h"

#include <stdexcept>

#include "components/objlib/keyed_record.h"
#include "provision/database_init.h"

namespace morvane::bench {

namespace fs = std::filesystem;

namespace {

std::string Numbered(const char* prefix, int n, int width) {
  std::string digits = std::to_string(n);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return prefix + digits;
}

}  // namespace

std::vector<SettingRow> MakeSettingRows(const std::string& vchClass, int count) {
  std::vector<SettingRow> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    SettingRow r;
    r.FVchClass = vchClass;
    r.FTypeID = "201";
    r.FTypeName = "辅助生产费用";
    r.FExpDeptID = Numbered("D", i / 100, 4);
    r.FExpDeptName = "机修车间" + std::to_string(i / 100);
    r.FExpenseID = Numbered("E", i % 100, 4);
    r.FExpenseName = "费用" + std::to_string(i % 100);
    r.FAcctID = 4101 + i % 50;
    r.FAcctName = "生产成本-辅助生产成本";
    r.FItemClassID = 2;
    r.FItemClassName = "部门";
    r.FItemID = i % 300;
    r.FItemName = "一车间";
    r.FRemark = "机修费用分配 " + std::to_string(i);
    r.FGroupID = i % 5;
    r.FGroupName = "辅助生产";
    rows.push_back(std::move(r));
  }
  return rows;
}

std::shared_ptr<objlib::RecordList> ToRecordList(const std::vector<SettingRow>& rows) {
  using automation::Variant;
  auto list = objlib::RecordList::New();
  list->Reserve(rows.size());
  for (const SettingRow& r : rows) {
    auto record = objlib::KeyedRecord::New();
    record->SetValue("FVchClass", Variant(r.FVchClass));
    record->SetValue("FTypeID", Variant(r.FTypeID));
    record->SetValue("FTypeName", Variant(r.FTypeName));
    record->SetValue("FExpDeptID", Variant(r.FExpDeptID));
    record->SetValue("FExpDeptName", Variant(r.FExpDeptName));
    record->SetValue("FExpenseID", Variant(r.FExpenseID));
    record->SetValue("FExpenseName", Variant(r.FExpenseName));
    record->SetValue("FAcctID", Variant(r.FAcctID));
    record->SetValue("FAcctName", Variant(r.FAcctName));
    record->SetValue("FItemClassID", Variant(r.FItemClassID));
    record->SetValue("FItemClassName", Variant(r.FItemClassName));
    record->SetValue("FItemID", Variant(r.FItemID));
    record->SetValue("FItemName", Variant(r.FItemName));
    record->SetValue("FRemark", Variant(r.FRemark));
    record->SetValue("FGroupID", Variant(r.FGroupID));
    record->SetValue("FGroupName", Variant(r.FGroupName));
    list->Add(Variant(automation::DispatchPtr(record)));
  }
  return list;
}

void CreateSchemaDatabase(const fs::path& path) { provision::InitDatabase({.path = path, .demo = false, .force = true}); }

void CopyDatabase(const fs::path& from, const fs::path& to) {
  for (const char* side : {"-wal", "-shm", "-journal"}) fs::remove(to.string() + side);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void AddDepartments(const fs::path& path, int basic, int auxiliary) {
  SqliteHandle db = OpenSqlite(path);
  Exec(db.get(), "BEGIN IMMEDIATE");
  sqlite3_stmt* raw = nullptr;
  Check(db.get(), sqlite3_prepare_v2(db.get(), "INSERT INTO CB_BmExpDept (FID, FName, FType) VALUES (?,?,?)", -1, &raw, nullptr),
        SQLITE_OK, "prepare");
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> dept(raw, sqlite3_finalize);
  auto add = [&](const std::string& id, const std::string& name, int type) {
    sqlite3_bind_text(dept.get(), 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(dept.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(dept.get(), 3, type);
    Check(db.get(), sqlite3_step(dept.get()), SQLITE_DONE, "insert department");
    sqlite3_reset(dept.get());
  };
  for (int i = 0; i < basic; ++i) add(Numbered("B", i, 4), "基本生产车间" + std::to_string(i), 0);
  for (int i = 0; i < auxiliary; ++i) add(Numbered("A", i, 4), "辅助车间" + std::to_string(i), 1);

  Check(db.get(), sqlite3_prepare_v2(db.get(),
                                     "INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FTypeName,FExpDeptID,FExpDeptName,"
                                     "FExpenseID,FExpenseName,FAcctID,FAcctName,FItemClassID,FItemClassName,FItemID,"
                                     "FItemName,FRemark,FGroupID,FGroupName) "
                                     "VALUES ('1','201','辅助生产费用',?,?,?,?,4101,'生产成本-辅助生产成本',2,'部门',?,"
                                     "'一车间','机修费用分配',2,'辅助生产')",
                                     -1, &raw, nullptr),
        SQLITE_OK, "prepare");
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> setting(raw, sqlite3_finalize);
  for (int a = 0; a < auxiliary; ++a) {
    for (int b = 0; b < basic; b += 10) {
      const std::string aid = Numbered("A", a, 4), bid = Numbered("B", b, 4);
      const std::string aname = "辅助车间" + std::to_string(a), bname = "基本生产车间" + std::to_string(b);
      sqlite3_bind_text(setting.get(), 1, aid.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(setting.get(), 2, aname.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(setting.get(), 3, bid.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(setting.get(), 4, bname.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(setting.get(), 5, b);
      Check(db.get(), sqlite3_step(setting.get()), SQLITE_DONE, "insert setting");
      sqlite3_reset(setting.get());
    }
  }
  Exec(db.get(), "COMMIT");
  Exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)");
}

std::string DsnOf(const fs::path& path) { return provision::DsnFor(path); }

std::string ConnectStringOf(const fs::path& path) {
  return "Provider=SQLite;Data Source=" + fs::absolute(path).lexically_normal().string();
}

SqliteHandle OpenSqlite(const fs::path& path) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqliteHandle db(raw);
  Check(db.get(), rc, SQLITE_OK, "open " + path.string());
  sqlite3_busy_timeout(db.get(), 5000);
  Exec(db.get(), "PRAGMA journal_mode=WAL");
  Exec(db.get(), "PRAGMA foreign_keys=ON");
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  Check(db, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK, sql);
}

void Check(sqlite3* db, int rc, int expected, const std::string& what) {
  if (rc != expected)
    throw std::runtime_error(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

std::int64_t QueryInt(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr), SQLITE_OK, sql);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
  Check(db, sqlite3_step(stmt.get()), SQLITE_ROW, sql);
  return sqlite3_column_int64(stmt.get(), 0);
}

}  // namespace morvane::bench
