#include "provision/database_init.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "datasource/c_parse.h"
#include "platform/automation/convert.h"
#include "platform/db/connection.h"
#include "platform/db/pool.h"
#include "platform/db/recordset.h"
#include "testing/held_database.h"
#include "testing/temp_folder.h"

namespace morvane::provision {
namespace {

using morvane::testing::ReadFileText;
using morvane::testing::TempFolder;

// The rows of a query on a database file, read with SQLite itself, as "v1|v2|..." (NULL as "NULL").
std::vector<std::string> Query(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  if (rc != SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file;
    return {};
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db.get());
    return {};
  }
  std::vector<std::string> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string line;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (i) line += "|";
      const auto* text = sqlite3_column_text(stmt, i);
      line += text ? reinterpret_cast<const char*>(text) : "NULL";
    }
    rows.push_back(line);
  }
  sqlite3_finalize(stmt);
  return rows;
}

std::string One(const std::filesystem::path& file, const std::string& sql) {
  auto rows = Query(file, sql);
  return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
}

template <class F>
DatabaseInitError::Kind KindOf(F&& f) {
  try {
    f();
  } catch (const DatabaseInitError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no DatabaseInitError";
  return DatabaseInitError::Kind::Failed;
}

// A minimal schema for the tests that make a script fail.
constexpr std::string_view kOneTable = "CREATE TABLE T (A INTEGER);";

TEST(InitDatabase, DemoDatabaseHoldsSchemaSeedAndSample) {
  TempFolder dir;
  const auto file = dir / "demo.db";
  InitDatabase({.path = file, .demo = true});

  struct Case {
    const char* sql;
    const char* expected;
  } cases[] = {
      {"SELECT count(*) FROM CB_BmExpDept WHERE FType = 0", "3"},
      {"SELECT count(*) FROM CB_BmExpDept WHERE FType = 1", "2"},
      {"SELECT count(*) FROM CB_BmExpense", "4"},
      {"SELECT count(DISTINCT FTypeID) FROM CB_CostVchTempSet", "4"},
      {"SELECT count(DISTINCT FVchClass) FROM CB_CostVchTempSet", "2"},
      // Every setting names a department of the sample, and 302 also uses the pseudo expense.
      {"SELECT count(*) FROM CB_CostVchTempSet s LEFT JOIN CB_BmExpDept d ON d.FID = s.FExpDeptID "
       "WHERE d.FID IS NULL",
       "0"},
      {"SELECT count(*) FROM CB_CostVchTempSet WHERE FTypeID = '302' AND FExpenseID = 'AssistExpenseID'", "1"},
      {"SELECT FDescriptive, FDescriptive_CHT, FDescriptive_EN FROM CB_BmErrCode WHERE FCode = 10000",
       "必须输入|必須輸入|A value is required"},
      {"SELECT FDescriptive, FDescriptive_CHT, FDescriptive_EN FROM CB_BmErrCode WHERE FCode = 10007",
       "记录已经存在|記錄已經存在|The record already exists"},
      {"SELECT FDescriptive FROM CB_BmErrItem WHERE FItem = 10036", "费用部门"},
      {"SELECT FTypeName, FMaxPrecision, FActualType, FBindType FROM t_DataTypeInfo WHERE FDataType = 202",
       "NVARCHAR()|4000|202|202"},
      {"SELECT FTypeName, FMaxPrecision, FActualType, FBindType FROM t_DataTypeInfo WHERE FDataType = 3",
       "INTEGER|NULL|3|3"},
      {"SELECT FUserID, FObjectType, FObjectID, FAccessMask FROM t_AccessRight", "1|155|1|-1"},
      {"SELECT count(*) > 0 FROM t_SupportedProc", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(One(file, c.sql), c.expected) << c.sql;
}

TEST(InitDatabase, ErrorTextsExistInThreeLanguages) {
  TempFolder dir;
  const auto file = dir / "t.db";
  InitDatabase({.path = file});
  for (int code : {10000, 10004, 10005, 10006, 10007, 10008, 10009, 10010}) {
    const std::string sql = "SELECT count(*) FROM CB_BmErrCode WHERE FCode = " + std::to_string(code) +
                            " AND length(FDescriptive) > 0 AND length(FDescriptive_CHT) > 0"
                            " AND length(FDescriptive_EN) > 0 AND FDescriptive_EN <> FDescriptive";
    EXPECT_EQ(One(file, sql), "1") << "code " << code;
  }
  // Two codes with one text would make two different faults read alike.
  EXPECT_EQ(One(file, "SELECT count(DISTINCT FDescriptive_EN) = count(*) FROM CB_BmErrCode"), "1");
}

TEST(InitDatabase, DataTypeCatalogueCoversEveryCodeTheSystemUses) {
  TempFolder dir;
  const auto file = dir / "t.db";
  InitDatabase({.path = file});
  for (int code : {2, 3, 4, 5, 6, 7, 11, 14, 16, 17, 20, 72, 128, 129, 130, 131, 133, 134, 135, 200, 201, 202, 203,
                   204, 205}) {
    EXPECT_EQ(One(file, "SELECT count(*) FROM t_DataTypeInfo WHERE FDataType = " + std::to_string(code) +
                            " AND FTypeName IS NOT NULL AND FActualType IS NOT NULL AND FBindType IS NOT NULL"),
              "1")
        << "type " << code;
  }
  // A type name with "()" takes a precision, so it must have a limit.
  EXPECT_EQ(One(file, "SELECT count(*) FROM t_DataTypeInfo WHERE FTypeName LIKE '%()%' AND FMaxPrecision IS NULL"),
            "0");
}

TEST(InitDatabase, WithoutDemoTheBaseDataIsEmpty) {
  TempFolder dir;
  const auto file = dir / "t.db";
  InitDatabase({.path = file});
  for (const char* table : {"CB_BmExpDept", "CB_BmExpense", "CB_CostVchTempSet"})
    EXPECT_EQ(One(file, std::string("SELECT count(*) FROM ") + table), "0") << table;
  EXPECT_EQ(One(file, "SELECT count(*) FROM t_AccessRight"), "1");
}

TEST(InitDatabase, SettingsAreKeyedOnTheFourKeyColumns) {
  TempFolder dir;
  const auto file = dir / "t.db";
  InitDatabase({.path = file});

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
  auto exec = [&](const char* sql) { return sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr); };
  EXPECT_EQ(exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID) VALUES ('1','301','01','e')"),
            SQLITE_OK);
  EXPECT_NE(exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID) VALUES ('1','301','01','e')"),
            SQLITE_OK);
  EXPECT_EQ(exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID) VALUES ('2','301','01','e')"),
            SQLITE_OK);
  EXPECT_NE(exec("INSERT INTO CB_CostVchTempSet (FVchClass,FTypeID,FExpDeptID,FExpenseID) VALUES (NULL,'301','01','e')"),
            SQLITE_OK);
}

TEST(InitDatabase, DsnNamesTheAbsolutePathAndTheLibraryVersion) {
  TempFolder dir;
  const auto file = dir / "a.db";
  EXPECT_EQ(InitDatabase({.path = file}),
            "ConnectString={Provider=SQLite;Data Source=" + file.string() +
                "};UserName=admin;UserID=1;DBMS Name=SQLite;DBMS Version=" + sqlite3_libversion() +
                ";LANGUAGE=chs;AcctType=GY");

  // A relative path is taken from the current directory.
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  std::string dsn;
  EXPECT_NO_THROW(dsn = InitDatabase({.path = "sub/../rel.db"}));
  std::filesystem::current_path(previous);
  EXPECT_NE(dsn.find("Data Source=" + (dir / "rel.db").string() + "}"), std::string::npos) << dsn;
  EXPECT_TRUE(std::filesystem::exists(dir / "rel.db"));
}

TEST(InitDatabase, TheDsnOpensWithTheSQLiteProvider) {
  TempFolder dir;
  const std::string dsn = InitDatabase({.path = dir / "p.db", .demo = true});
  datasource::CParse parse;
  parse.ParseString(dsn);
  EXPECT_EQ(parse.UserID(), 1);
  EXPECT_EQ(parse.LanguageID(), "chs");
  EXPECT_TRUE(parse.IsIndustry());
  {
    auto connection = db::Connection::New();
    connection->Open(parse.ConStr());
    auto rs = connection->Execute("SELECT count(*) AS N FROM CB_BmExpDept");
    EXPECT_EQ(automation::ToLong(rs->CurrentRow()[0]), 5);
  }
  db::ConnectionPool::Instance().Clear();
}

TEST(InitDatabase, AnExistingFileIsKeptWithoutForce) {
  TempFolder dir;
  const auto file = dir.Write("keep.db", "not a database");
  EXPECT_EQ(KindOf([&] { InitDatabase({.path = file, .demo = true}); }), DatabaseInitError::Kind::AlreadyExists);
  EXPECT_EQ(ReadFileText(file), "not a database");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.db"});

  // A dangling symbolic link is an existing name too.
  std::filesystem::create_symlink(dir / "nowhere", dir / "link.db");
  EXPECT_EQ(KindOf([&] { InitDatabase({.path = dir / "link.db"}); }), DatabaseInitError::Kind::AlreadyExists);
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST(InitDatabase, ForceReplacesTheFileAndItsSideFiles) {
  TempFolder dir;
  const auto file = dir.Write("f.db", "old content");
  for (const char* side : {"f.db-wal", "f.db-shm", "f.db-journal"}) dir.Write(side, "stale");
  InitDatabase({.path = file, .force = true});
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"f.db"});
  EXPECT_EQ(One(file, "SELECT count(*) FROM t_AccessRight"), "1");
}

// A journal left beside a deleted database would be replayed into the new one.
TEST(InitDatabase, SideFilesOfADeletedDatabaseAreRemoved) {
  TempFolder dir;
  for (const char* side : {"g.db-wal", "g.db-shm", "g.db-journal"}) dir.Write(side, "stale");
  InitDatabase({.path = dir / "g.db"});
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"g.db"});
  EXPECT_EQ(One(dir / "g.db", "PRAGMA integrity_check"), "ok");
}

TEST(InitDatabase, AFailingScriptLeavesNothingBehind) {
  TempFolder dir;
  const auto file = dir / "broken.db";
  const std::vector<DatabaseScript> scripts = {{"schema", kOneTable},
                                               {"seed", "INSERT INTO T VALUES (1); INSERT INTO Missing VALUES (2);"}};
  try {
    CreateDatabaseFile(file, scripts, false);
    ADD_FAILURE() << "no error";
  } catch (const DatabaseInitError& e) {
    EXPECT_EQ(e.kind(), DatabaseInitError::Kind::Failed);
    EXPECT_NE(std::string(e.what()).find("seed"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Missing"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(dir.Entries().empty());

  // With --force the old database stays as it was when the new one cannot be made.
  dir.Write("broken.db", "old");
  EXPECT_EQ(KindOf([&] { CreateDatabaseFile(file, scripts, true); }), DatabaseInitError::Kind::Failed);
  EXPECT_EQ(ReadFileText(file), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"broken.db"});
}

TEST(InitDatabase, PathsThatCannotBeDescribedAreRefusedBeforeWriting) {
  TempFolder dir;
  for (const char* name : {"a;b.db", "a{b.db", "a}b.db", "trailing.db "}) {
    EXPECT_EQ(KindOf([&] { InitDatabase({.path = dir / name}); }), DatabaseInitError::Kind::Failed) << name;
    EXPECT_TRUE(dir.Entries().empty()) << name;
  }
}

TEST(InitDatabase, AMissingFolderOrAFolderTargetFails) {
  TempFolder dir;
  EXPECT_EQ(KindOf([&] { InitDatabase({.path = dir / "no" / "such.db"}); }), DatabaseInitError::Kind::Failed);
  std::filesystem::create_directory(dir / "folder.db");
  EXPECT_EQ(KindOf([&] { InitDatabase({.path = dir / "folder.db", .force = true}); }),
            DatabaseInitError::Kind::NotReplaceable);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.db"));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"folder.db"});
}

// The message of the DatabaseInitError that creating `path` raises, or "<created>".
std::string Refusal(const std::filesystem::path& path, bool force) {
  try {
    InitDatabase({.path = path, .force = force});
  } catch (const DatabaseInitError& e) {
    return std::string(e.kind() == DatabaseInitError::Kind::NotReplaceable ? "NotReplaceable: " : "other: ") + e.what();
  }
  return "<created>";
}

// Only a regular file is ever replaced: a FIFO, a folder or a device swapped for a database file
// breaks whatever used it, with or without --force.
TEST(InitDatabase, NothingButARegularFileIsReplaced) {
  TempFolder dir;
  std::filesystem::create_directory(dir / "folder.db");
  ASSERT_EQ(::mkfifo((dir / "fifo.db").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "folder.db", dir / "to-folder.db");
  std::filesystem::create_symlink(dir / "fifo.db", dir / "to-fifo.db");
  std::filesystem::create_symlink("/dev/null", dir / "to-device.db");
  std::filesystem::create_symlink(dir / "nowhere", dir / "to-nothing.db");
  std::filesystem::create_symlink(dir / "loop-b.db", dir / "loop-a.db");
  std::filesystem::create_symlink(dir / "loop-a.db", dir / "loop-b.db");
  dir.Write("fifo.db-wal", "beside");
  const std::vector<std::string> before = dir.Entries();
  const struct {
    const char* name;
    const char* what;
    bool refusedWithoutForce;  // false: without --force it is an existing name like any other
  } cases[] = {
      {"folder.db", " is a directory;", true},
      {"fifo.db", " is a named pipe (FIFO);", true},
      {"to-folder.db", " is a symbolic link to a directory;", true},
      {"to-fifo.db", " is a symbolic link to a named pipe (FIFO);", true},
      {"to-device.db", " is a symbolic link to a character device;", true},
      {"loop-a.db", " is a symbolic link that cannot be followed", true},
      {"to-nothing.db", " is a symbolic link to nothing;", false},
  };
  for (const auto& c : cases) {
    for (const bool force : {true, false}) {
      const std::string message = Refusal(dir / c.name, force);
      if (force || c.refusedWithoutForce) {
        EXPECT_EQ(message.rfind("NotReplaceable: " + (dir / c.name).string() + c.what, 0), 0u)
            << c.name << (force ? " --force" : "") << ": " << message;
      } else {
        EXPECT_EQ(message.rfind("other: " + (dir / c.name).string() + " already exists", 0), 0u) << message;
      }
      EXPECT_EQ(dir.Entries(), before) << c.name << ": a file was written or removed";
    }
  }
  EXPECT_EQ(std::filesystem::symlink_status(dir / "fifo.db").type(), std::filesystem::file_type::fifo);
  EXPECT_EQ(ReadFileText(dir / "fifo.db-wal"), "beside");
  EXPECT_EQ(std::filesystem::status("/dev/null").type(), std::filesystem::file_type::character);
}

// A host holding the database open would go on writing to the replaced file, and every change it
// makes afterwards would be lost with it.
TEST(InitDatabase, ADatabaseHeldOpenByAnotherProcessIsNotReplaced) {
  TempFolder dir;
  const auto file = dir / "held.db";
  InitDatabase({.path = file, .demo = true});
  morvane::testing::HeldDatabase held(file, "PRAGMA journal_mode=WAL; DELETE FROM CB_BmExpense WHERE FID = "
                                            "(SELECT min(FID) FROM CB_BmExpense)");
  ASSERT_TRUE(held.holding());
  const std::vector<std::string> before = dir.Entries();
  EXPECT_EQ(before, (std::vector<std::string>{"held.db", "held.db-shm", "held.db-wal"}));

  EXPECT_EQ(Refusal(file, true), "NotReplaceable: database in use by another process: " + file.string());
  EXPECT_EQ(dir.Entries(), before) << "the side files of a database in use were touched";
  EXPECT_EQ(One(file, "SELECT count(*) FROM CB_BmExpense"), "3") << "the holder's change is still there";

  // Through a symbolic link, the file it leads to is what counts.
  std::filesystem::create_symlink(file, dir / "link.db");
  EXPECT_EQ(Refusal(dir / "link.db", true), "NotReplaceable: database in use by another process: " + file.string());

  held.Release();
  EXPECT_EQ(Refusal(file, true), "<created>") << "closed, the file is replaced as before";
  EXPECT_EQ(One(file, "SELECT count(*) FROM CB_BmExpense"), "0");
}

TEST(InitDatabase, ForceThroughALinkReplacesTheFileItLeadsTo) {
  TempFolder dir;
  const auto real = dir.Write("real.db", "old content");
  dir.Write("real.db-wal", "stale");
  std::filesystem::create_directory(dir / "links");
  std::filesystem::create_symlink(real, dir / "links" / "link.db");
  InitDatabase({.path = dir / "links" / "link.db", .force = true});
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "links" / "link.db")) << "the link was replaced instead of its file";
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"links", "real.db"})) << "the stale WAL beside the file is left";
  EXPECT_EQ(One(real, "SELECT count(*) FROM t_AccessRight"), "1");
}

}  // namespace
}  // namespace morvane::provision
