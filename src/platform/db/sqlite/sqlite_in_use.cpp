#include "platform/db/sqlite/sqlite_in_use.h"

#include <sqlite3.h>

#include <memory>

namespace morvane::db::sqlite {

bool DatabaseInUse(const std::string& path) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
  if (opened != SQLITE_OK) return false;
  // No busy handler: a lock held by another connection must answer at once, not after a wait.
  sqlite3_busy_timeout(raw, 0);
  // Set before the first statement reads the file. In the normal locking mode an exclusive
  // transaction on a WAL file takes only the WAL's write lock, which idle readers do not hold; in
  // exclusive mode SQLite first takes the database file's EXCLUSIVE lock, which their SHARED
  // locks refuse.
  if (sqlite3_exec(raw, "PRAGMA locking_mode=EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  const int begun = sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
  if (begun == SQLITE_OK) sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  return begun == SQLITE_BUSY || begun == SQLITE_LOCKED;
}

}  // namespace morvane::db::sqlite
