// Transactions that callers of the network host hold across several requests: begun by one
// request, used by calls that name them, committed or aborted by a later request, or aborted by
// the reaper when left idle too long.
//
//   HeldTransactions held(std::chrono::seconds(60), log, {.total = 1000, .perClient = 100});
//   std::string id = held.Begin("192.0.2.7");  // raises kTooManyTransactions over a cap
//   if (auto lease = held.Acquire(id, deadline)) {  // serialises the calls of one transaction
//     mts::TransactionBinding binding(lease->transaction());
//     ...                                      // the call joins the transaction
//   }
//   held.Commit(id);                           // raises kTransactionAborted when a vote doomed it
//
// Identifiers are 128 random bits written in hexadecimal, so one caller cannot guess another's.
// The transactions take SQLite's write lock at their first write (mts::WriteLock::AtFirstWrite),
// so one that only reads, however long its caller keeps it, locks no writer out.
//
// Thread rules: every member may be called from any thread. The table is guarded by one mutex;
// each transaction has a mutex of its own that a Lease holds for the whole call, so calls of one
// transaction run one at a time (mts::Transaction is used by one thread at a time) while calls of
// different transactions run in parallel. Commit, Abort and the reaper take the same mutex, so
// they wait for a running call to end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/mts/runtime.h"

namespace morvane::host {

// How many transactions may be held at once: the caps that keep one client, or all of them,
// from filling the host with transactions (each may hold a database connection).
struct HeldTransactionLimits {
  std::size_t total = 1000;     // by every client together
  std::size_t perClient = 100;  // by one client address
};

// The lock that a call of a transaction holds: exclusive, with a deadline for the wait. Made of
// a mutex and a condition variable rather than std::timed_mutex, whose timed wait
// (pthread_mutex_clocklock) ThreadSanitizer does not see, so that the checks of the host's
// threads stay sound. Meets the TimedLockable requirements.
class CallGate {
 public:
  void lock();
  bool try_lock();
  bool try_lock_until(std::chrono::steady_clock::time_point deadline);
  void unlock();

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  bool taken_ = false;  // guarded by mutex_
};

class HeldTransactions {
  struct Held;

 public:
  using Clock = std::chrono::steady_clock;
  using Log = std::function<void(std::string_view line)>;

  // Starts the reaper, which aborts a transaction unused for `idleTimeout`; `log` (may be empty)
  // hears of each transaction it aborts.
  HeldTransactions(Clock::duration idleTimeout, Log log, HeldTransactionLimits limits = {});
  // Stops the reaper and aborts every transaction still held; never throws.
  ~HeldTransactions();
  HeldTransactions(const HeldTransactions&) = delete;
  HeldTransactions& operator=(const HeldTransactions&) = delete;

  // Begins a transaction for the client at `clientAddress` (its IP address, without the port)
  // and returns its identifier. It counts against the client and the total until it ends
  // (committed, aborted, reaped). Raises automation::Error kTooManyTransactions, naming the cap
  // and its number, when the client or the host already holds as many as its cap allows.
  std::string Begin(std::string_view clientAddress);

  // The right to run one call in a transaction: holds its mutex until destroyed, and keeps the
  // reaper away meanwhile. The idle time counts again from its end.
  class Lease {
   public:
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    const std::shared_ptr<mts::Transaction>& transaction() const;

   private:
    friend class HeldTransactions;
    Lease(HeldTransactions& owner, std::shared_ptr<Held> held, std::unique_lock<CallGate> lock);
    HeldTransactions& owner_;
    std::shared_ptr<Held> held_;
    std::unique_lock<CallGate> lock_;
  };

  // Waits until no other call of the transaction runs and returns the lease; nullptr when no
  // transaction has that identifier (never begun, or already ended). Raises automation::Error
  // kTransactionBusy when another call still runs at `deadline`; the transaction is untouched.
  std::unique_ptr<Lease> Acquire(std::string_view id, Clock::time_point deadline);

  enum class EndResult { Ended, NotFound };
  // Commits the transaction and forgets it. NotFound when no transaction has that identifier.
  // Raises what mts::Transaction::Commit raises (kTransactionAborted when a vote doomed it;
  // everything is rolled back then); the transaction is forgotten in any case.
  EndResult Commit(std::string_view id);
  // Rolls the transaction back and forgets it. NotFound as Commit; raises a rollback failure.
  EndResult Abort(std::string_view id);

  // How many transactions are held, in all and by one client address.
  std::size_t size() const;
  std::size_t HeldBy(std::string_view clientAddress) const;

  // The first characters of an identifier, enough to tell transactions apart in a log.
  static std::string ShortId(std::string_view id);

 private:
  // Removes the transaction from the table and returns it with its mutex held and marked ended;
  // nullopt when unknown.
  struct Taken {
    std::shared_ptr<Held> held;
    std::unique_lock<CallGate> lock;
  };
  std::optional<Taken> Take(std::string_view id);
  void Released(Held& held);
  // Removes an entry of the table and the transaction from its client's count.
  // REQUIRES: mutex_ held.
  void ForgetLocked(std::map<std::string, std::shared_ptr<Held>, std::less<>>::iterator it);
  void Reap();

  const Clock::duration idleTimeout_;
  const Log log_;
  const HeldTransactionLimits limits_;

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Held>, std::less<>> table_;  // guarded by mutex_
  std::map<std::string, std::size_t, std::less<>> perClient_;        // held by each address; guarded by mutex_
  bool stopping_ = false;                                            // guarded by mutex_
  std::condition_variable wake_;                                     // with mutex_
  std::thread reaper_;
};

}  // namespace morvane::host
