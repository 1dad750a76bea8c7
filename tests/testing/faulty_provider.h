// A forwarding provider for fault-injection tests: every physical connection it opens wraps one
// of the real provider's and passes each call through, until the test arms a fault. It logs the
// statements run since the last Arm (or Count) so a test can first count a call's statements on
// an unarmed run and then fail each of them in turn. Installed for the lifetime of a
// ProviderOverride (testing/provider_override.h).
//
// Faults:
//   FailStatement(k)  the k-th statement after arming raises an injected error; the connection
//                     stays usable, as after any statement the database refuses.
//   DropAtStatement(k, rollback) the connection that runs the k-th statement is lost at that
//                     statement: the real connection is closed at once (closing discards its open
//                     transaction, as a server does for a lost session), and from then on every
//                     Execute, Begin, Commit and Properties raises and IsUsable() is false.
//                     Rollback raises too, or, with LostRollback::Succeeds, returns quietly as a
//                     driver may that knows the server has discarded the transaction already.
//                     Uses of a lost connection after Disarm are counted (UsesAfterDisarm), so a
//                     test can tell whether the pool handed it out again.
//   FailCommit()      the next Commit raises without committing; the connection stays usable.
//
// Thread-safe: the fault, the counters and the log are guarded by a mutex. A connection itself is
// used by one thread at a time, as every physical connection.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/error.h"
#include "platform/db/provider.h"
#include "platform/db/sqlite/sqlite_error.h"
#include "testing/forwarding_provider.h"

namespace morvane::testing {

// The numbers of the injected errors: SQLite's own codes for a refused statement (SQLITE_ERROR)
// and for a lost link (SQLITE_IOERR), so they look like the provider's errors to every layer.
inline constexpr std::int32_t kInjectedStatementError = db::sqlite::SqliteErrorNumber(1);
inline constexpr std::int32_t kLostConnectionError = db::sqlite::SqliteErrorNumber(10);
inline constexpr std::string_view kInjectedSource = "Morvane.FaultInjection";

class FaultyProvider : public ForwardingProvider {
 public:
  // What Rollback does on a lost connection.
  enum class LostRollback { Raises, Succeeds };

  explicit FaultyProvider(db::Provider& real) : ForwardingProvider(real), state_(std::make_shared<State>()) {}

  // Clears the log and starts counting statements from 1 with no fault armed.
  void Count() { Set(Fault::None, 0); }
  // Clears the log and fails the k-th statement (1-based) from now on.
  void FailStatement(int k) { Set(Fault::FailStatement, k); }
  // Clears the log and loses the connection of the k-th statement (1-based) from now on.
  void DropAtStatement(int k, LostRollback rollback = LostRollback::Raises) {
    Set(Fault::Drop, k);
    std::lock_guard lock(state_->mutex);
    state_->lostRollback = rollback;
  }
  // Clears the log and fails the next Commit.
  void FailCommit() { Set(Fault::FailCommit, 0); }
  // Ends any armed fault; connections lost so far stay lost. The log is kept.
  void Disarm() {
    std::lock_guard lock(state_->mutex);
    state_->fault = Fault::None;
    state_->disarmed = true;
  }

  // The statement texts run since the last Count or arming, in order.
  std::vector<std::string> Statements() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
  }
  // Whether the armed fault has struck since it was armed.
  bool Struck() const {
    std::lock_guard lock(state_->mutex);
    return state_->struck;
  }
  // Calls made on a lost connection after the last Disarm: nonzero means something handed a lost
  // connection out again.
  int UsesAfterDisarm() const {
    std::lock_guard lock(state_->mutex);
    return state_->usesAfterDisarm;
  }

 private:
  enum class Fault { None, FailStatement, Drop, FailCommit };
  enum class Outcome { Run, Fail, Drop };

  struct State {
    mutable std::mutex mutex;
    Fault fault = Fault::None;         // guarded by mutex
    int at = 0;                        // guarded by mutex: the statement number the fault strikes
    LostRollback lostRollback = LostRollback::Raises;  // guarded by mutex
    bool struck = false;               // guarded by mutex
    bool disarmed = false;             // guarded by mutex
    int usesAfterDisarm = 0;           // guarded by mutex
    std::vector<std::string> log;      // guarded by mutex

    // Logs a statement and tells what to do with it.
    Outcome Next(std::string_view sql) {
      std::lock_guard lock(mutex);
      log.emplace_back(sql);
      if (static_cast<int>(log.size()) != at) return Outcome::Run;
      if (fault == Fault::FailStatement) {
        struck = true;
        return Outcome::Fail;
      }
      if (fault == Fault::Drop) {
        struck = true;
        return Outcome::Drop;
      }
      return Outcome::Run;
    }
    // Whether this Commit is to fail (the fault is used up by it).
    bool TakeCommitFault() {
      std::lock_guard lock(mutex);
      if (fault != Fault::FailCommit || struck) return false;
      struck = true;
      return true;
    }
    void NoteUseOfLost() {
      std::lock_guard lock(mutex);
      if (disarmed) ++usesAfterDisarm;
    }
    bool LostRollbackSucceeds() {
      std::lock_guard lock(mutex);
      return lostRollback == LostRollback::Succeeds;
    }
  };

  void Set(Fault fault, int at) {
    std::lock_guard lock(state_->mutex);
    state_->fault = fault;
    state_->at = at;
    state_->struck = false;
    state_->lostRollback = LostRollback::Raises;
    state_->disarmed = false;
    state_->usesAfterDisarm = 0;
    state_->log.clear();
  }

  // Every member checks the link first, so each one is overridden; inner_ is null once the
  // connection is lost.
  class Connection : public ForwardingConnection {
   public:
    Connection(std::unique_ptr<db::PhysicalConnection> inner, std::shared_ptr<State> state)
        : ForwardingConnection(std::move(inner)), state_(std::move(state)) {}

    db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
      RequireLink(sql);
      switch (state_->Next(sql)) {
        case Outcome::Run:
          break;
        case Outcome::Fail:
          throw automation::Error(kInjectedStatementError, std::string(kInjectedSource),
                                  "injected failure [statement: " + std::string(sql) + "]");
        case Outcome::Drop:
          inner_.reset();
          RequireLink(sql);
      }
      return ForwardingConnection::Execute(sql, params);
    }
    void Begin() override {
      RequireLink("BEGIN");
      ForwardingConnection::Begin();
    }
    void BeginDeferred() override {
      RequireLink("BEGIN");
      ForwardingConnection::BeginDeferred();
    }
    void Commit() override {
      RequireLink("COMMIT");
      if (state_->TakeCommitFault())
        throw automation::Error(kInjectedStatementError, std::string(kInjectedSource), "injected failure of COMMIT");
      ForwardingConnection::Commit();
    }
    void Rollback() override {
      if (!inner_ && state_->LostRollbackSucceeds()) {
        state_->NoteUseOfLost();
        return;
      }
      RequireLink("ROLLBACK");
      ForwardingConnection::Rollback();
    }
    std::vector<std::pair<std::string, db::Variant>> Properties() override {
      RequireLink("(properties)");
      return ForwardingConnection::Properties();
    }
    bool IsUsable() const override { return inner_ != nullptr && ForwardingConnection::IsUsable(); }

   private:
    // Raises the lost-link error when the connection has been lost.
    void RequireLink(std::string_view what) {
      if (inner_) return;
      state_->NoteUseOfLost();
      throw automation::Error(kLostConnectionError, std::string(kInjectedSource),
                              "the connection to the database was lost [" + std::string(what) + "]");
    }

    std::shared_ptr<State> state_;
  };

  std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                               std::string_view) override {
    return std::make_unique<Connection>(std::move(connection), state_);
  }

  std::shared_ptr<State> state_;
};

}  // namespace morvane::testing
