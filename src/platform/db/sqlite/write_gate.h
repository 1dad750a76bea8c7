// WriteGate: the order in which the connections of this process take a database file's write
// lock. SQLite lets one connection write at a time; a connection that finds the lock taken polls
// for it in sleeps of growing length (up to 100 ms each) until its busy timeout ends, so under
// steady load the connections that arrive just as the lock is freed keep winning and an early
// waiter can run out of time although every transaction is short. The gate queues the
// transactions of this process first in, first out, and wakes the next one as soon as the
// previous one ends; SQLite's busy timeout then only waits for other processes.
//
//   auto gate = WriteGate::For(path);       // one gate per database file of the process
//   if (!gate->Enter(timeout)) ...          // waited longer than the timeout: no entry
//   ...                                     // BEGIN IMMEDIATE ... COMMIT
//   gate->Leave();
//
// Thread rules: For and every member may be called from any thread; a gate's state is guarded by
// its own mutex, the table of gates by a process-wide one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace morvane::db::sqlite {

class WriteGate {
 public:
  // The gate of a database file, named by its canonical path (the file must exist; a name that
  // cannot be resolved is used as given). Every connection of the process to the same file gets
  // the same gate while one of them holds it.
  static std::shared_ptr<WriteGate> For(const std::string& path);

  // Waits until every earlier entrant has left, then enters; returns false, without entering,
  // when that takes longer than `timeout`. The caller that entered must call Leave once.
  bool Enter(std::chrono::milliseconds timeout);
  // Lets the next entrant in. Never throws.
  void Leave() noexcept;

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  bool occupied_ = false;             // guarded by mutex_
  std::deque<std::uint64_t> queue_;   // waiting tickets, oldest first; guarded by mutex_
  std::uint64_t nextTicket_ = 0;      // guarded by mutex_
};

}  // namespace morvane::db::sqlite
