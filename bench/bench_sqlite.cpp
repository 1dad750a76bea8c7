// The three SQLite figures: Append of many rows in one transaction, GetAssList over a large
// cross join, and many connections on one connection string. Arguments of the children:
//   append-{system,baseline}       TEMPLATE WORKFILE ROWS
//   asslist-{system,baseline}      DATABASE
//   connections-{system,baseline}  DATABASE COUNT
//   make-database                  PATH DEPARTMENTS   (setup for profiling by hand)
//   idle                                               (the floor of the resident sizes)
#include <sqlite3.h>

#include <stdexcept>
#include <variant>

#include "bench_children.h"
#include "bench_data.h"
#include "bench_figures.h"
#include "bench_process.h"
#include "components/objlib/record_access.h"
#include "datasource/c_data_source.h"
#include "platform/automation/late_binding.h"
#include "platform/db/pool.h"
#include "platform/mts/runtime.h"
#include "service/list_queries.h"
#include "service/module.h"
#include "support/globals.h"
#include "support/strings.h"

namespace morvane::bench {

namespace {

using automation::DispatchPtr;
using automation::Variant;

constexpr int kWarmUpRows = 10;

// A prepared statement, finalized by the destructor.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    Check(db, sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr), SQLITE_OK, sql);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  void Int(int i, std::int32_t v) { sqlite3_bind_int(stmt_, i, v); }
  int Step() { return sqlite3_step(stmt_); }
  void Reset() { sqlite3_reset(stmt_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Append

// The hand-written Append: in one transaction, for each row the existence query of its key and
// the INSERT of its sixteen columns, both prepared once.
void BaselineAppend(sqlite3* db, const std::vector<SettingRow>& rows) {
  Exec(db, "BEGIN IMMEDIATE");
  Statement exists(db,
                   "SELECT FVchClass,FTypeID,FExpDeptID,FExpenseID FROM CB_CostVchTempSet "
                   "WHERE FVchClass=? AND FTypeID=? AND FExpDeptID=? AND FExpenseID=?");
  Statement insert(db,
                   "INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FTypeName,FExpDeptID,FExpDeptName,FExpenseID,"
                   "FExpenseName,FAcctID,FAcctName,FItemClassID,FItemClassName,FItemID,FItemName,FRemark,FGroupID,"
                   "FGroupName) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  for (const SettingRow& r : rows) {
    exists.Text(1, r.FVchClass);
    exists.Text(2, r.FTypeID);
    exists.Text(3, r.FExpDeptID);
    exists.Text(4, r.FExpenseID);
    const int found = exists.Step();
    exists.Reset();
    if (found == SQLITE_ROW) throw std::runtime_error("the row exists already");
    Check(db, found, SQLITE_DONE, "existence query");

    insert.Text(1, r.FVchClass);
    insert.Text(2, r.FTypeID);
    insert.Text(3, r.FTypeName);
    insert.Text(4, r.FExpDeptID);
    insert.Text(5, r.FExpDeptName);
    insert.Text(6, r.FExpenseID);
    insert.Text(7, r.FExpenseName);
    insert.Int(8, r.FAcctID);
    insert.Text(9, r.FAcctName);
    insert.Int(10, r.FItemClassID);
    insert.Text(11, r.FItemClassName);
    insert.Int(12, r.FItemID);
    insert.Text(13, r.FItemName);
    insert.Text(14, r.FRemark);
    insert.Int(15, r.FGroupID);
    insert.Text(16, r.FGroupName);
    const int rc = insert.Step();
    insert.Reset();
    Check(db, rc, SQLITE_DONE, "INSERT");
  }
  Exec(db, "COMMIT");
}

void ReportStoredRows(const std::filesystem::path& path) {
  SqliteHandle db = OpenSqlite(path);
  Report("stored", static_cast<double>(QueryInt(db.get(), "SELECT COUNT(*) FROM CB_CostVchTempSet")));
}

void AppendSystem(const ChildArgs& a) {
  const std::filesystem::path work = a.at(1);
  CopyDatabase(a.at(0), work);
  const int count = std::stoi(a.at(2));
  DllRegisterServer();
  const std::string dsn = DsnOf(work);
  DispatchPtr update = mts::CreateObject("Morvane.VchTempSetUpdate");

  automation::Call(*update, "Append", dsn, DispatchPtr(ToRecordList(MakeSettingRows("W", kWarmUpRows))), true);
  const DispatchPtr list = ToRecordList(MakeSettingRows("B", count));

  const SectionTimer timer;
  automation::Call(*update, "Append", dsn, list, true);
  timer.Stop();
  ReportStoredRows(work);
}

void AppendBaseline(const ChildArgs& a) {
  const std::filesystem::path work = a.at(1);
  CopyDatabase(a.at(0), work);
  const int count = std::stoi(a.at(2));
  SqliteHandle db = OpenSqlite(work);

  BaselineAppend(db.get(), MakeSettingRows("W", kWarmUpRows));
  const std::vector<SettingRow> rows = MakeSettingRows("B", count);

  const SectionTimer timer;
  BaselineAppend(db.get(), rows);
  timer.Stop();
  db.reset();
  ReportStoredRows(work);
}

// ---------------------------------------------------------------------------------------------
// GetAssList

using Value = std::variant<std::monostate, std::int64_t, double, std::string>;
using Rows = std::vector<std::vector<Value>>;

// The hand-written list query: every row of the text into a vector of rows of values.
Rows BaselineQuery(sqlite3* db, const std::string& sql) {
  Statement stmt(db, sql);
  const int columns = sqlite3_column_count(stmt.get());
  Rows rows;
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) {
    std::vector<Value>& row = rows.emplace_back();
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      switch (sqlite3_column_type(stmt.get(), c)) {
        case SQLITE_INTEGER:
          row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt.get(), c)));
          break;
        case SQLITE_FLOAT:
          row.emplace_back(sqlite3_column_double(stmt.get(), c));
          break;
        case SQLITE_NULL:
          row.emplace_back();
          break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), c));
          row.emplace_back(std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), c))));
        }
      }
    }
  }
  Check(db, rc, SQLITE_DONE, "list query");
  return rows;
}

std::string TypeName(std::string_view text) { return support::GetResString(text, "chs"); }

void AssListSystem(const ChildArgs& a) {
  DllRegisterServer();
  const std::string dsn = DsnOf(a.at(0));
  DispatchPtr info = mts::CreateObject("Morvane.VchTempSetInfo");
  automation::Call(*info, "GetBaseList", dsn);  // warm-up: registration, catalogue, connection

  const SectionTimer timer;
  const Variant list = automation::Call(*info, "GetAssList", dsn);
  timer.Stop();
  Report("rows", objlib::ListRef::From(list).UBound());
}

void AssListBaseline(const ChildArgs& a) {
  SqliteHandle db = OpenSqlite(a.at(0));
  BaselineQuery(db.get(), service::BaseListSql(TypeName(strings::kCostItem)));  // the same warm-up
  const std::string sql = service::AssListSql(TypeName(strings::kAuxiliaryProductionExpense));

  const SectionTimer timer;
  const Rows rows = BaselineQuery(db.get(), sql);
  timer.Stop();
  Report("rows", static_cast<double>(rows.size()));
}

// ---------------------------------------------------------------------------------------------
// Connections

void ConnectionsSystem(const ChildArgs& a) {
  const int count = std::stoi(a.at(1));
  datasource::CDataSource ds;
  ds.ParseObject = std::make_shared<datasource::CParse>();
  ds.ParseObject->ParseString(DsnOf(a.at(0)));
  ds.Connection();  // warm-up: the first physical connection
  const std::size_t opened = db::ConnectionPool::Instance().PhysicalConnectionsOpened();

  const SectionTimer timer;
  for (int i = 0; i < count; ++i) {
    std::shared_ptr<db::Connection> connection = ds.Connection();
  }
  timer.Stop();
  Report("physical", static_cast<double>(db::ConnectionPool::Instance().PhysicalConnectionsOpened() - opened));
}

void ConnectionsBaseline(const ChildArgs& a) {
  const std::string path = a.at(0);
  const int count = std::stoi(a.at(1));
  auto openClose = [&path] {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close(db);
      throw std::runtime_error("open " + path);
    }
    sqlite3_close(db);
  };
  openClose();  // warm-up

  const SectionTimer timer;
  for (int i = 0; i < count; ++i) openClose();
  timer.Stop();
}

// A process that loads the program and does nothing: the floor under every peak resident size.
void Idle(const ChildArgs&) { Report("seconds", 0.0); }

// Setup for profiling a measurement by hand: a database of the schema at PATH with N + N
// departments (N = 0: none), as the GetAssList figure uses.
void MakeDatabase(const ChildArgs& a) {
  CreateSchemaDatabase(a.at(0));
  const int departments = std::stoi(a.at(1));
  if (departments > 0) AddDepartments(a.at(0), departments, departments);
}

}  // namespace

void AddSqliteChildren(std::map<std::string, ChildMain>& children) {
  children["append-system"] = AppendSystem;
  children["append-baseline"] = AppendBaseline;
  children["asslist-system"] = AssListSystem;
  children["asslist-baseline"] = AssListBaseline;
  children["connections-system"] = ConnectionsSystem;
  children["connections-baseline"] = ConnectionsBaseline;
  children["make-database"] = MakeDatabase;
  children["idle"] = Idle;
}

}  // namespace morvane::bench

namespace morvane::bench {

std::vector<FigureRow> SqliteFigures(const Context& ctx) {
  std::vector<FigureRow> rows;
  const int appendRows = ctx.quick ? 200 : 10000;
  const int departments = ctx.quick ? 30 : 300;
  const int connections = ctx.quick ? 50 : 1000;
  const std::string schemaDb = ctx.schemaDb.string();

  {
    const std::string n = std::to_string(appendRows);
    const Sides s = MeasureSides(ctx.runs, {"append-system", schemaDb, (ctx.work / "append-system.db").string(), n},
                                 {"append-baseline", schemaDb, (ctx.work / "append-baseline.db").string(), n});
    for (const auto* side : {&s.system, &s.baseline})
      for (const ChildResult& r : *side)
        if (r.Number("stored") != appendRows + kWarmUpRows)
          throw std::runtime_error("Append stored " + r.values.at("stored") + " rows, expected " +
                                   std::to_string(appendRows + kWarmUpRows));
    FigureRow row = Compare(ctx, "`Append` of " + FormatNumber(appendRows, 0) + " rows in one transaction, SQLite file",
                            Median(s.system, "seconds"), Median(s.baseline, "seconds"), "s", 2.0, true);
    row.note = CpuNote("`Append`", s);
    rows.push_back(row);
  }

  {
    const std::filesystem::path db = ctx.work / "asslist.db";
    CopyDatabase(ctx.schemaDb, db);
    AddDepartments(db, departments, departments);
    const Sides s = MeasureSides(ctx.runs, {"asslist-system", db.string()}, {"asslist-baseline", db.string()});
    const double expected = static_cast<double>(departments) * departments;
    for (const auto* side : {&s.system, &s.baseline})
      for (const ChildResult& r : *side)
        if (r.Number("rows") != expected)
          throw std::runtime_error("GetAssList listed " + r.values.at("rows") + " rows, expected " +
                                   FormatNumber(expected, 0));
    const std::string what = "`GetAssList` over " + std::to_string(departments) + " + " + std::to_string(departments) +
                             " departments (" + FormatNumber(expected, 0) + " rows)";
    FigureRow time = Compare(ctx, what + ": time", Median(s.system, "seconds"), Median(s.baseline, "seconds"), "s",
                             1.5, true);
    time.note = CpuNote("`GetAssList`", s);
    rows.push_back(time);
    FigureRow memory =
        Compare(ctx, what + ": peak resident size", MedianRss(s.system), MedianRss(s.baseline), "KiB", 2.0, true);
    const double idle = static_cast<double>(RunChild({"idle"}).maxRssKiB);
    memory.note = "Peak resident size of a whole measurement process (ru_maxrss); one that loads the program and "
                  "does nothing peaks at " + FormatKiB(idle) + ", and above that floor the ratio is " +
                  FormatNumber((MedianRss(s.system) - idle) / (MedianRss(s.baseline) - idle), 2) + "×.";
    rows.push_back(memory);
  }

  {
    const std::string db = (ctx.work / "connections.db").string();
    CopyDatabase(ctx.schemaDb, db);
    const Sides s = MeasureSides(ctx.runs, {"connections-system", db, std::to_string(connections)},
                                 {"connections-baseline", db, std::to_string(connections)});
    FigureRow row = Compare(ctx, FormatNumber(connections, 0) + " connections on one connection string",
                            Median(s.system, "seconds"), Median(s.baseline, "seconds"), "s", 0.2, true);
    row.note = CpuNote("Connections", s) + "; `CDataSource.Connection` opened " + FormatNumber(Median(s.system, "physical"), 0) +
               " physical connection(s) for " + FormatNumber(connections, 0) + " calls (the pool).";
    rows.push_back(row);
  }
  return rows;
}

}  // namespace morvane::bench
