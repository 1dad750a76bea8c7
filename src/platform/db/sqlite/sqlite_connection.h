// SqliteConnection: one open SQLite database connection, the SQLite provider's
// PhysicalConnection. It runs one statement per text with positional "?" parameters, reads every
// row of a result, keeps the statements it has prepared (by text) for the next use, and
// understands the isolation statement "SET TRANSACTION ISOLATION LEVEL ..." itself (SQLite has no
// such statement): READ UNCOMMITTED sets PRAGMA read_uncommitted = 1; READ COMMITTED,
// REPEATABLE READ and SERIALIZABLE set it to 0 (SQLite's transactions are serializable).
//
// Begin starts BEGIN IMMEDIATE, so a transaction takes the write lock at its start (waiting up
// to the busy timeout) and cannot fail later for want of it. BeginDeferred starts BEGIN
// DEFERRED: the transaction takes the lock at its first statement that writes (as SQLite judges
// the prepared statement: INSERT, UPDATE, DELETE, REPLACE, DDL, a PRAGMA that sets a value,
// also behind WITH), so while it only reads, other connections write. Before it takes the lock
// a transaction queues at the file's WriteGate (write_gate.h), so the transactions of this
// process take the lock in the order they asked for it rather than by the luck of SQLite's
// polling; each wait is bounded by the busy timeout and ends in SQLite's "database is locked"
// error. A connection is in the gate exactly while it takes or holds the write lock.
//
// A deferred transaction that has read cannot wait for the lock (SQLite refuses at once, as the
// wait could deadlock), and once another connection has committed after it began reading it can
// no longer write at all (SQLITE_BUSY_SNAPSHOT). Both raise the "database is locked" error with
// a text that says so; nothing of the statement is written and the transaction stays open to be
// rolled back. Rollback without an open transaction has no effect (SQLite rolls back by itself
// after some errors); Commit without one raises SQLite's error, so a transaction lost that way is
// never reported as committed.
//
// Thread rules: used by one thread at a time (the database handle is opened without a mutex).
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/provider.h"

struct sqlite3;

namespace morvane::db::sqlite {

class WriteGate;

struct SqliteOptions {
  std::string path;          // the database file; must exist
  int busyTimeoutMs = 5000;  // how long a statement waits for another connection's lock
  bool foreignKeys = true;   // PRAGMA foreign_keys
};

class SqliteConnection final : public PhysicalConnection {
 public:
  // Opens the database file and sets WAL mode, the busy timeout and foreign keys. Raises the
  // SQLite error with the path as context (a missing file says so).
  explicit SqliteConnection(SqliteOptions options);
  // Closes the database (SQLite rolls back an open transaction), then leaves the write gate.
  ~SqliteConnection() override;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  // Runs one statement. Raises the SQLite error (with the statement text), an error when the
  // text holds no statement or more than one, when the number of parameters differs from the
  // statement's markers, and the conversion's error when a value does not convert to its
  // parameter's type.
  ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override;

  // Begin raises SQLITE_BUSY's error when the gate or the lock is not had within the busy
  // timeout (nothing is begun then). Commit and Rollback leave the gate once no transaction is
  // open any more.
  void Begin() override;
  void BeginDeferred() override;
  void Commit() override;
  void Rollback() override;

  // "DBMS Name" "SQLite", "DBMS Version" the library's version text, "Multiple Results" 0,
  // "Like Escape Clause" "Y", "Integrity Enhancement Facility" True, and the four function bit
  // masks: a bit is set when this SQLite library has a function of that meaning (ODBC's LCASE is
  // SQLite's lower, LOG its ln ...). The masks are left out when the library cannot list its
  // functions.
  std::vector<std::pair<std::string, Variant>> Properties() override;

  // False after an error that leaves the connection unfit (I/O, corruption, out of memory, disk
  // full) and while a transaction that Begin did not start is open (one begun by statement
  // text), so the pool never hands out a connection in the middle of someone's transaction.
  bool IsUsable() const override;

 private:
  class StatementCache;
  struct Closer {
    void operator()(sqlite3* db) const noexcept;
  };

  // Runs a text that has no parameters and no result through the statement cache.
  void Run(std::string_view sql);
  // Raises the SQLite error of code for the statement, marking the connection unfit when the
  // code says so.
  [[noreturn]] void Fail(int code, std::string_view sql);
  // Sets PRAGMA read_uncommitted, unless it already has that value.
  void SetReadUncommitted(bool on);
  // Enters the write gate, or raises SQLITE_BUSY's error naming the statement when the
  // transactions of this process ahead of this one keep it past the busy timeout.
  void EnterGate(std::string_view sql);
  // Leaves the write gate when this connection is in it and holds no write transaction (any
  // more, or yet: a first write that failed to take the lock).
  void LeaveGateUnlessWriting() noexcept;
  // The four function masks (name, mask), or nothing when the library cannot list its functions.
  std::optional<std::vector<std::pair<std::string, Variant>>> FunctionMasks();

  SqliteOptions options_;
  std::unique_ptr<sqlite3, Closer> db_;
  std::unique_ptr<StatementCache> cache_;  // declared after db_: its statements end first
  bool broken_ = false;
  bool transactionBegun_ = false;  // a transaction started by Begin is open
  std::shared_ptr<WriteGate> gate_;  // the database file's, shared with its other connections
  bool inGate_ = false;              // entered the gate and has not left it yet
  std::optional<std::vector<std::pair<std::string, Variant>>> functionMasks_;
};

}  // namespace morvane::db::sqlite
