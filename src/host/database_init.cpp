#include "host/database_init.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "host/db_scripts.h"

namespace morvane::host {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw DatabaseInitError(DatabaseInitError::Kind::Failed, message);
}

[[noreturn]] void AlreadyExists(const fs::path& path) {
  throw DatabaseInitError(DatabaseInitError::Kind::AlreadyExists,
                          path.string() + " already exists; use --force to replace it");
}

fs::path Absolute(const fs::path& path) {
  std::error_code ec;
  fs::path abs = fs::absolute(path, ec);
  if (ec) Fail("cannot resolve the path " + path.string() + ": " + ec.message());
  return abs.lexically_normal();
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

// The files SQLite keeps beside a database and replays into it when it opens.
std::array<fs::path, 3> SideFiles(const fs::path& database) {
  return {fs::path(database.string() + "-wal"), fs::path(database.string() + "-shm"),
          fs::path(database.string() + "-journal")};
}

void RemoveSideFiles(const fs::path& database) {
  for (const fs::path& side : SideFiles(database)) {
    std::error_code ec;
    fs::remove(side, ec);
    if (ec) Fail("cannot remove " + side.string() + ": " + ec.message());
  }
}

// The new database while it is built: a file of its own beside the target, removed (with its
// side files) unless it has been moved into place. The destructor never throws.
class TempDatabase {
 public:
  explicit TempDatabase(const fs::path& target) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, ".init-%ld-%08x", static_cast<long>(::getpid()), random());
      fs::path candidate = target.string() + suffix;
      int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        path_ = std::move(candidate);
        return;
      }
      if (errno != EEXIST) Fail("cannot create a file in " + target.parent_path().string() + ": " + std::strerror(errno));
    }
    Fail("cannot find a free temporary name beside " + target.string());
  }
  ~TempDatabase() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove(path_, ec);
    for (const fs::path& side : SideFiles(path_)) fs::remove(side, ec);
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  const fs::path& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

void Exec(sqlite3* db, std::string_view what, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return;
  std::string text = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  Fail(std::string(what) + " failed: " + text);
}

void RunScripts(const fs::path& file, const std::vector<DatabaseScript>& scripts) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, SqliteCloser> db(raw);
  if (rc != SQLITE_OK) Fail("cannot open " + file.string() + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  Exec(db.get(), "starting the transaction", "BEGIN");
  for (const DatabaseScript& script : scripts) Exec(db.get(), "the script " + std::string(script.name), std::string(script.text));
  Exec(db.get(), "the commit", "COMMIT");
  if (sqlite3_close(db.release()) != SQLITE_OK) Fail("cannot close " + file.string());
}

// Moves the finished file to the target without replacing an existing one. Returns false when the
// target exists.
bool MoveNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS)
    Fail("cannot move the new database to " + to.string() + ": " + std::strerror(errno));
  // A file system without RENAME_NOREPLACE: a hard link refuses an existing name as well.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  if (Exists(to)) return false;
  if (std::rename(from.c_str(), to.c_str()) != 0)
    Fail("cannot move the new database to " + to.string() + ": " + std::strerror(errno));
  return true;
}

std::string_view Script(const char* name) {
  const auto& scripts = DatabaseScripts();
  auto it = scripts.find(name);
  if (it == scripts.end()) Fail(std::string("the program holds no database script ") + name);
  return it->second;
}

}  // namespace

void CreateDatabaseFile(const fs::path& path, const std::vector<DatabaseScript>& scripts, bool force) {
  const fs::path target = Absolute(path);
  if (!force && Exists(target)) AlreadyExists(target);
  std::error_code ec;
  if (fs::is_directory(target, ec)) Fail(target.string() + " is a folder");
  if (!fs::is_directory(target.parent_path(), ec)) Fail("the folder " + target.parent_path().string() + " does not exist");

  TempDatabase temp(target);
  RunScripts(temp.path(), scripts);

  if (force) {
    RemoveSideFiles(target);
    if (std::rename(temp.path().c_str(), target.c_str()) != 0)
      Fail("cannot move the new database to " + target.string() + ": " + std::strerror(errno));
  } else {
    if (Exists(target)) AlreadyExists(target);
    RemoveSideFiles(target);  // left over from a database that was deleted without them
    if (!MoveNoReplace(temp.path(), target)) AlreadyExists(target);
  }
  temp.Release();
}

std::string DsnFor(const fs::path& path) {
  const std::string text = Absolute(path).string();
  if (text.find_first_of(";{}") != std::string::npos || text.back() == ' ')
    Fail("the path " + text + " cannot stand in a connection description (it holds \";\", \"{\" or \"}\" or ends with a blank)");
  return "ConnectString={Provider=SQLite;Data Source=" + text + "};UserName=admin;UserID=1;DBMS Name=SQLite;DBMS Version=" +
         sqlite3_libversion() + ";LANGUAGE=chs;AcctType=GY";
}

std::string InitDatabase(const DatabaseInitOptions& options) {
  const fs::path target = Absolute(options.path);
  std::string dsn = DsnFor(target);  // refuses an unusable path before anything is written
  std::vector<DatabaseScript> scripts = {{"sqlite/schema.sql", Script("sqlite/schema.sql")},
                                         {"sqlite/seed.sql", Script("sqlite/seed.sql")}};
  if (options.demo) scripts.push_back({"sqlite/demo.sql", Script("sqlite/demo.sql")});
  CreateDatabaseFile(target, scripts, options.force);
  return dsn;
}

}  // namespace morvane::host
