#include "provision/file_in_place.h"

#include "platform/db/sqlite/sqlite_in_use.h"
#include "provision/database_init.h"
#include "provision/scripts.h"

namespace morvane::provision {

namespace fs = std::filesystem;

namespace {

std::string Describe(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory:
      return "a directory";
    case fs::file_type::fifo:
      return "a named pipe (FIFO)";
    case fs::file_type::character:
      return "a character device";
    case fs::file_type::block:
      return "a block device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "not a regular file";
  }
}

[[noreturn]] void NotReplaceable(const std::string& message) {
  throw DatabaseInitError(DatabaseInitError::Kind::NotReplaceable, message);
}

}  // namespace

FileInPlace ExamineFileInPlace(const fs::path& path) {
  std::error_code ec;
  const fs::file_status own = fs::symlink_status(path, ec);
  // A missing name, or a parent that is no folder: nothing stands there.
  if (own.type() == fs::file_type::not_found) return {};
  if (ec) Fail("cannot examine " + path.string() + ": " + ec.message());
  if (own.type() == fs::file_type::regular) return {FileInPlace::Kind::RegularFile, path, {}};
  if (own.type() != fs::file_type::symlink) return {FileInPlace::Kind::Other, {}, Describe(own.type())};

  const fs::file_status led = fs::status(path, ec);
  if (led.type() == fs::file_type::not_found) return {FileInPlace::Kind::LinkToNothing, {}, "a symbolic link to nothing"};
  if (ec) return {FileInPlace::Kind::Other, {}, "a symbolic link that cannot be followed (" + ec.message() + ")"};
  if (led.type() != fs::file_type::regular)
    return {FileInPlace::Kind::Other, {}, "a symbolic link to " + Describe(led.type())};
  fs::path file = fs::canonical(path, ec);
  if (ec) Fail("cannot follow the symbolic link " + path.string() + ": " + ec.message());
  return {FileInPlace::Kind::RegularFile, std::move(file), {}};
}

void CheckReplaceable(const fs::path& path, const FileInPlace& found) {
  switch (found.kind) {
    case FileInPlace::Kind::Nothing:
      return;
    case FileInPlace::Kind::RegularFile:
      if (db::sqlite::DatabaseInUse(found.file.string()))
        NotReplaceable("database in use by another process: " + found.file.string());
      return;
    case FileInPlace::Kind::LinkToNothing:
    case FileInPlace::Kind::Other:
      NotReplaceable(path.string() + " is " + found.what + "; only a regular file is replaced by a new database");
  }
}

}  // namespace morvane::provision
