#include "provision/database_init.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "platform/automation/error.h"
#include "platform/db/provider.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "provision/file_in_place.h"
#include "provision/scripts.h"

namespace morvane::provision {

namespace fs = std::filesystem;

namespace {

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

// The data-access connection string of a file; the path is quoted, so that any name works.
std::string SqliteConnectString(const fs::path& file) {
  std::string text = "Provider=SQLite;Data Source=\"";
  for (char c : file.string()) {
    text += c;
    if (c == '"') text += '"';
  }
  return text + "\"";
}

// Runs the scripts on the file through the SQLite provider, on a connection of its own that is
// closed before this returns (the file can then be moved).
void RunScriptsOn(const fs::path& file, const std::vector<DatabaseScript>& scripts) {
  const std::string connectString = SqliteConnectString(file);
  std::unique_ptr<db::PhysicalConnection> connection;
  try {
    connection = db::ProviderFor(connectString).Connect(connectString);
  } catch (const automation::Error& e) {
    Fail("cannot open " + file.string() + ": " + e.Description());
  }
  RunScripts(*connection, scripts, false);
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

}  // namespace

void CreateDatabaseFile(const fs::path& path, const std::vector<DatabaseScript>& scripts, bool force) {
  const fs::path target = Absolute(path);
  const FileInPlace found = ExamineFileInPlace(target);
  if (found.kind == FileInPlace::Kind::Other || (force && found.kind != FileInPlace::Kind::Nothing))
    CheckReplaceable(target, found);
  if (!force && found.kind != FileInPlace::Kind::Nothing) AlreadyExists(target);
  // Through a symbolic link the new database takes the place of the file the link leads to.
  const fs::path destination = found.kind == FileInPlace::Kind::RegularFile ? found.file : target;
  std::error_code ec;
  if (!fs::is_directory(destination.parent_path(), ec))
    Fail("the folder " + destination.parent_path().string() + " does not exist");

  TempDatabase temp(destination);
  RunScriptsOn(temp.path(), scripts);

  if (force) {
    // Again, as late as can be: a host may have opened the file, or something else taken its
    // name, while the scripts ran. What opens it between this check and the rename is not seen.
    CheckReplaceable(destination, ExamineFileInPlace(destination));
    RemoveSideFiles(destination);
    if (std::rename(temp.path().c_str(), destination.c_str()) != 0)
      Fail("cannot move the new database to " + destination.string() + ": " + std::strerror(errno));
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
         db::sqlite::LibraryVersion() + ";LANGUAGE=chs;AcctType=GY";
}

std::string InitDatabase(const DatabaseInitOptions& options) {
  const fs::path target = Absolute(options.path);
  std::string dsn = DsnFor(target);  // refuses an unusable path before anything is written
  CreateDatabaseFile(target, ProductScripts("sqlite", options.demo), options.force);
  return dsn;
}

}  // namespace morvane::provision
