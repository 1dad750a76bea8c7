#include "host/server_transactions.h"

#include <sys/random.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <random>
#include <vector>

#include "platform/automation/error.h"
#include "platform/automation/error_numbers.h"

namespace morvane::host {

void CallGate::lock() {
  std::unique_lock<std::mutex> lock(mutex_);
  freed_.wait(lock, [this] { return !taken_; });
  taken_ = true;
}

bool CallGate::try_lock() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (taken_) return false;
  taken_ = true;
  return true;
}

bool CallGate::try_lock_until(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!freed_.wait_until(lock, deadline, [this] { return !taken_; })) return false;
  taken_ = true;
  return true;
}

void CallGate::unlock() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_ = false;
  }
  freed_.notify_one();
}

namespace errors = automation::errors;

struct HeldTransactions::Held {
  std::string id;
  std::string client;  // the address it counts against
  std::shared_ptr<mts::Transaction> transaction;
  CallGate callMutex;
  bool ended = false;          // guarded by callMutex
  int users = 0;               // leases and callers waiting for one; guarded by the table's mutex_
  Clock::time_point lastUsed;  // guarded by the table's mutex_
};

namespace {

// 128 bits from the kernel's random source, in hexadecimal.
std::string NewId() {
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled < sizeof bytes) {
    std::random_device device;
    for (; filled < sizeof bytes; ++filled) bytes[filled] = static_cast<unsigned char>(device());
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

}  // namespace

HeldTransactions::HeldTransactions(Clock::duration idleTimeout, Log log, HeldTransactionLimits limits)
    : idleTimeout_(idleTimeout), log_(std::move(log)), limits_(limits) {
  reaper_ = std::thread([this] { Reap(); });
}

HeldTransactions::~HeldTransactions() {
  std::map<std::string, std::shared_ptr<Held>, std::less<>> left;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    left.swap(table_);
    perClient_.clear();
  }
  wake_.notify_all();
  if (reaper_.joinable()) reaper_.join();
  for (auto& [id, held] : left) {
    std::lock_guard<CallGate> call(held->callMutex);
    held->ended = true;
    try {
      held->transaction->Abort();
    } catch (...) {
      // Rolled back as far as it could be; nothing more to do while stopping.
    }
    if (log_) log_("transaction " + ShortId(id) + " aborted: the host is stopping");
  }
}

std::string HeldTransactions::Begin(std::string_view clientAddress) {
  auto held = std::make_shared<Held>();
  held->client = std::string(clientAddress);
  held->transaction = mts::Transaction::Begin(mts::WriteLock::AtFirstWrite);
  std::lock_guard<std::mutex> lock(mutex_);
  auto client = perClient_.find(clientAddress);
  const std::size_t byClient = client == perClient_.end() ? 0 : client->second;
  if (byClient >= limits_.perClient)
    automation::Raise(errors::kTooManyTransactions, std::nullopt,
                      "this client (" + held->client + ") already holds " + std::to_string(byClient) +
                          " transactions, the most one client may hold at once (per-client cap " +
                          std::to_string(limits_.perClient) + "); commit or abort one first");
  if (table_.size() >= limits_.total)
    automation::Raise(errors::kTooManyTransactions, std::nullopt,
                      "the host already holds " + std::to_string(table_.size()) +
                          " transactions, the most it holds at once for all clients (total cap " +
                          std::to_string(limits_.total) + "); try again when some have ended");
  std::string id;
  do {
    id = NewId();
  } while (table_.contains(id));
  held->id = id;
  held->lastUsed = Clock::now();
  table_.emplace(id, std::move(held));
  if (client == perClient_.end())
    perClient_.emplace(std::string(clientAddress), 1);
  else
    ++client->second;
  return id;
}

HeldTransactions::Lease::Lease(HeldTransactions& owner, std::shared_ptr<Held> held,
                               std::unique_lock<CallGate> lock)
    : owner_(owner), held_(std::move(held)), lock_(std::move(lock)) {}

HeldTransactions::Lease::~Lease() { owner_.Released(*held_); }

const std::shared_ptr<mts::Transaction>& HeldTransactions::Lease::transaction() const { return held_->transaction; }

std::unique_ptr<HeldTransactions::Lease> HeldTransactions::Acquire(std::string_view id, Clock::time_point deadline) {
  std::shared_ptr<Held> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(id);
    if (it == table_.end()) return nullptr;
    held = it->second;
    ++held->users;  // keeps the reaper away while this call waits
  }
  std::unique_lock<CallGate> call(held->callMutex, deadline);
  if (!call.owns_lock()) {
    Released(*held);
    automation::Raise(errors::kTransactionBusy, std::nullopt,
                      "the transaction is busy with another call, which was still running at the deadline");
  }
  if (held->ended) {  // committed or aborted while this call waited
    call.unlock();
    Released(*held);
    return nullptr;
  }
  return std::unique_ptr<Lease>(new Lease(*this, std::move(held), std::move(call)));
}

void HeldTransactions::Released(Held& held) {
  std::lock_guard<std::mutex> lock(mutex_);
  --held.users;
  held.lastUsed = Clock::now();
}

std::optional<HeldTransactions::Taken> HeldTransactions::Take(std::string_view id) {
  std::shared_ptr<Held> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(id);
    if (it == table_.end()) return std::nullopt;
    held = it->second;
    ForgetLocked(it);
  }
  std::unique_lock<CallGate> call(held->callMutex);
  held->ended = true;
  return Taken{std::move(held), std::move(call)};
}

HeldTransactions::EndResult HeldTransactions::Commit(std::string_view id) {
  auto taken = Take(id);
  if (!taken) return EndResult::NotFound;
  taken->held->transaction->Commit();
  return EndResult::Ended;
}

HeldTransactions::EndResult HeldTransactions::Abort(std::string_view id) {
  auto taken = Take(id);
  if (!taken) return EndResult::NotFound;
  taken->held->transaction->Abort();
  return EndResult::Ended;
}

void HeldTransactions::ForgetLocked(std::map<std::string, std::shared_ptr<Held>, std::less<>>::iterator it) {
  auto client = perClient_.find(it->second->client);
  if (client != perClient_.end() && --client->second == 0) perClient_.erase(client);
  table_.erase(it);
}

std::size_t HeldTransactions::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_.size();
}

std::size_t HeldTransactions::HeldBy(std::string_view clientAddress) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto client = perClient_.find(clientAddress);
  return client == perClient_.end() ? 0 : client->second;
}

std::string HeldTransactions::ShortId(std::string_view id) { return std::string(id.substr(0, 8)); }

void HeldTransactions::Reap() {
  const Clock::duration period =
      std::clamp<Clock::duration>(idleTimeout_ / 4, std::chrono::milliseconds(10), std::chrono::seconds(1));
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, period, [this] { return stopping_; });
    if (stopping_) break;
    // Only transactions that no call uses or waits for: no lease can find them once erased.
    std::vector<std::shared_ptr<Held>> idle;
    const auto now = Clock::now();
    for (auto it = table_.begin(); it != table_.end();) {
      if (it->second->users == 0 && now - it->second->lastUsed >= idleTimeout_) {
        idle.push_back(it->second);
        ForgetLocked(it++);
      } else {
        ++it;
      }
    }
    if (idle.empty()) continue;
    lock.unlock();
    for (auto& held : idle) {
      std::lock_guard<CallGate> call(held->callMutex);
      held->ended = true;
      std::string outcome = "aborted after being idle";
      try {
        held->transaction->Abort();
      } catch (...) {
        outcome = "aborted after being idle; the rollback reported an error";
      }
      if (log_) log_("transaction " + ShortId(held->id) + " " + outcome);
    }
    lock.lock();
  }
}

}  // namespace morvane::host
