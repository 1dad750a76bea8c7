#include "platform/mts/transaction.h"

#include <utility>

#include "platform/automation/error.h"
#include "platform/db/pool.h"

namespace morvane::mts {

namespace errors = automation::errors;

RuntimeTransaction::~RuntimeTransaction() {
  std::lock_guard lock(mutex_);
  if (state_ == State::Active) RollBackAllLocked();
}

void RuntimeTransaction::Commit() {
  std::unique_lock lock(mutex_);
  if (state_ == State::Committed) return;
  if (state_ == State::RolledBack)
    automation::Raise(errors::kTransactionAborted, std::nullopt,
                      "the transaction cannot commit: it has already been rolled back");
  if (doomed_) {
    RollBackAllLocked();
    state_ = State::RolledBack;
    automation::Raise(errors::kTransactionAborted, std::nullopt,
                      "the transaction was rolled back: an object called in it voted to abort (SetAbort), "
                      "so nothing of it was committed");
  }

  std::exception_ptr failure;
  for (Enlisted& e : enlisted_) {
    if (!failure) {
      try {
        e.connection->Commit();
        continue;
      } catch (...) {
        failure = std::current_exception();
      }
    }
    try {
      e.connection->Rollback();
    } catch (...) {
      // The commit failure (or the first one) is what the caller needs to see.
    }
  }
  enlisted_.clear();
  if (failure) {
    doomed_ = true;
    state_ = State::RolledBack;
    std::rethrow_exception(failure);
  }
  state_ = State::Committed;
}

void RuntimeTransaction::Abort() {
  std::lock_guard lock(mutex_);
  if (state_ != State::Active) return;
  doomed_ = true;
  state_ = State::RolledBack;
  if (std::exception_ptr failure = RollBackAllLocked()) std::rethrow_exception(failure);
}

bool RuntimeTransaction::IsDoomed() const {
  std::lock_guard lock(mutex_);
  return doomed_;
}

bool RuntimeTransaction::IsEnded() const {
  std::lock_guard lock(mutex_);
  return state_ != State::Active;
}

void RuntimeTransaction::Doom() {
  std::lock_guard lock(mutex_);
  if (state_ == State::Active) doomed_ = true;
}

std::shared_ptr<db::PhysicalConnection> RuntimeTransaction::Enlist(std::string_view connectionString) {
  std::lock_guard lock(mutex_);
  if (state_ != State::Active)
    automation::Raise(errors::kTransactionEnded, std::nullopt,
                      "a connection cannot join the transaction: the transaction has already ended");
  for (const Enlisted& e : enlisted_)
    if (e.connectionString == connectionString) return e.connection;
  // Another spelling of a string already enlisted shares its connection; parsed only when the
  // text itself is new to the transaction.
  std::optional<db::NormalisedConnectionString> normalised = db::NormaliseConnectionString(connectionString);
  if (normalised)
    for (const Enlisted& e : enlisted_)
      if (e.normalised == normalised) return e.connection;

  std::shared_ptr<db::PhysicalConnection> connection = db::ConnectionPool::Instance().Acquire(connectionString);
  // On failure the reference goes back to the pool unenlisted.
  if (writeLock_ == WriteLock::AtFirstWrite)
    connection->BeginDeferred();
  else
    connection->Begin();
  enlisted_.push_back(Enlisted{std::string(connectionString), std::move(normalised), connection});
  return connection;
}

std::exception_ptr RuntimeTransaction::RollBackAllLocked() noexcept {
  std::exception_ptr failure;
  for (Enlisted& e : enlisted_) {
    try {
      e.connection->Rollback();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  enlisted_.clear();
  return failure;
}

}  // namespace morvane::mts
