// `morvane init`, run as a separate process the way a user runs it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "testing/held_database.h"
#include "testing/temp_folder.h"

namespace morvane::cli {
namespace {

using morvane::testing::ReadFileText;
using morvane::testing::TempFolder;

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

// Runs `morvane ARGS` in `folder`; ARGS is shell text.
Outcome Morvane(const TempFolder& folder, const std::string& args) {
  const std::string errFile = (folder / ".stderr").string();
  const std::string command =
      "cd '" + folder.path().string() + "' && '" MORVANE_BUILD_DIR "/morvane' " + args + " 2>'" + errFile + "'";
  Outcome o;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return o;
  }
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) o.out.append(buffer, n);
  int status = ::pclose(pipe);
  o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.err = ReadFileText(errFile);
  std::filesystem::remove(errFile);
  return o;
}

std::string Count(const std::filesystem::path& file, const std::string& table) {
  sqlite3* db = nullptr;
  std::string result = "<error>";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return result;
}

std::string ExpectedDsn(const std::filesystem::path& file) {
  return "ConnectString={Provider=SQLite;Data Source=" + file.string() +
         "};UserName=admin;UserID=1;DBMS Name=SQLite;DBMS Version=" + sqlite3_libversion() +
         ";LANGUAGE=chs;AcctType=GY\n";
}

TEST(InitCommand, CreatesTheDemoDatabaseAndPrintsOnlyItsDsn) {
  TempFolder dir("morvane-cli");
  Outcome o = Morvane(dir, "init --db demo.db --demo");
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, ExpectedDsn(dir / "demo.db"));
  for (const char* table : {"CB_BmExpDept", "CB_BmExpense", "CB_CostVchTempSet", "CB_BmErrCode", "t_DataTypeInfo"})
    EXPECT_NE(Count(dir / "demo.db", table), "0") << table;
}

TEST(InitCommand, DefaultsToMorvaneDbInTheCurrentFolderWithoutSampleData) {
  TempFolder dir("morvane-cli");
  Outcome o = Morvane(dir, "init");
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, ExpectedDsn(dir / "morvane.db"));
  EXPECT_EQ(Count(dir / "morvane.db", "CB_CostVchTempSet"), "0");
  EXPECT_EQ(Count(dir / "morvane.db", "CB_BmErrCode"), "8");
}

TEST(InitCommand, RefusesToOverwriteWithoutForce) {
  TempFolder dir("morvane-cli");
  dir.Write("taken.db", "precious");
  Outcome refused = Morvane(dir, "init --db taken.db --demo");
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("taken.db"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  EXPECT_EQ(ReadFileText(dir / "taken.db"), "precious");

  Outcome forced = Morvane(dir, "init --db taken.db --force");
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(forced.out, ExpectedDsn(dir / "taken.db"));
  EXPECT_EQ(Count(dir / "taken.db", "t_AccessRight"), "1");
}

TEST(InitCommand, OtherFailuresExitOneWithAMessage) {
  TempFolder dir("morvane-cli");
  Outcome o = Morvane(dir, "init --db missing/folder.db");
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_NE(o.err.find("missing"), std::string::npos) << o.err;
}

// --force replaces a database file, never what only looks like a name for one.
TEST(InitCommand, ForceRefusesWhatIsNotARegularFile) {
  TempFolder dir("morvane-cli");
  ASSERT_EQ(::mkfifo((dir / "pipe.db").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.db");
  std::filesystem::create_symlink("/dev/null", dir / "null.db");
  const std::vector<std::string> before = dir.Entries();
  const struct {
    const char* name;
    const char* what;
    std::filesystem::file_type typeAfter;
  } cases[] = {
      {"pipe.db", "a named pipe (FIFO)", std::filesystem::file_type::fifo},
      {"folder.db", "a directory", std::filesystem::file_type::directory},
      {"null.db", "a symbolic link to a character device", std::filesystem::file_type::symlink},
  };
  for (const auto& c : cases) {
    Outcome o = Morvane(dir, std::string("init --force --db ") + c.name);
    EXPECT_EQ(o.exitCode, 2) << c.name << ": " << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_NE(o.err.find((dir / c.name).string() + " is " + c.what), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(std::filesystem::symlink_status(dir / c.name).type(), c.typeAfter) << c.name;
    EXPECT_EQ(dir.Entries(), before) << c.name << ": a file was written or removed";
  }
  EXPECT_EQ(std::filesystem::status("/dev/null").type(), std::filesystem::file_type::character);
}

// A running host keeps its connections open between calls; a database swapped under it would take
// every later change of the host into a file that no longer has a name.
TEST(InitCommand, ForceRefusesADatabaseThatAnotherProcessHoldsOpen) {
  TempFolder dir("morvane-cli");
  ASSERT_EQ(Morvane(dir, "init --demo --db held.db").exitCode, 0);
  const std::string settings = Count(dir / "held.db", "CB_CostVchTempSet");
  ASSERT_NE(settings, "0");
  {
    morvane::testing::HeldDatabase held(dir / "held.db");
    ASSERT_TRUE(held.holding());
    Outcome refused = Morvane(dir, "init --force --db held.db");
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "morvane init: database in use by another process: " + (dir / "held.db").string() + "\n");
    EXPECT_EQ(Count(dir / "held.db", "CB_CostVchTempSet"), settings);
  }
  Outcome forced = Morvane(dir, "init --force --db held.db");
  EXPECT_EQ(forced.exitCode, 0) << "closed, it is replaced: " << forced.err;
  EXPECT_EQ(forced.out, ExpectedDsn(dir / "held.db"));
  EXPECT_EQ(Count(dir / "held.db", "CB_CostVchTempSet"), "0");
}

}  // namespace
}  // namespace morvane::cli
