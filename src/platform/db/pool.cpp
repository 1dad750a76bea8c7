#include "platform/db/pool.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane::db {

namespace {

// Idle connections kept per connection string; a connection given back beyond that is closed.
constexpr std::size_t kMaxIdlePerString = 32;

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// The connection a holder of the pool's reference works with: it forwards to the provider's
// connection and remembers whether a transaction begun through it is still open, so that the
// pool can roll that transaction back before anyone else gets the connection.
class PooledConnection final : public PhysicalConnection {
 public:
  explicit PooledConnection(std::unique_ptr<PhysicalConnection> inner) : inner_(std::move(inner)) {}

  ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override {
    return inner_->Execute(sql, params);
  }
  void Begin() override {
    inner_->Begin();
    inTransaction_ = true;
  }
  void BeginDeferred() override {
    inner_->BeginDeferred();
    inTransaction_ = true;
  }
  void Commit() override {
    inner_->Commit();
    inTransaction_ = false;
  }
  void Rollback() override {
    inner_->Rollback();
    inTransaction_ = false;
  }
  std::vector<std::pair<std::string, Variant>> Properties() override { return inner_->Properties(); }
  bool IsUsable() const override { return inner_->IsUsable(); }

  // The provider's connection when it is fit for the next user (an open transaction rolled
  // back), or nullptr when it should be closed instead. Never throws.
  std::unique_ptr<PhysicalConnection> TakeForReuse() noexcept {
    try {
      if (inTransaction_) {
        inner_->Rollback();
        inTransaction_ = false;
      }
      if (!inner_->IsUsable()) return nullptr;
    } catch (...) {
      return nullptr;
    }
    return std::move(inner_);
  }

 private:
  std::unique_ptr<PhysicalConnection> inner_;
  bool inTransaction_ = false;
};

}  // namespace

struct ConnectionPool::Impl {
  struct Bucket {
    std::vector<std::unique_ptr<PhysicalConnection>> idle;  // guarded by mutex
  };

  // Puts a connection back in its bucket, or closes it when the bucket is full. Never throws.
  void GiveBack(Bucket* bucket, std::unique_ptr<PhysicalConnection> connection) noexcept {
    std::unique_ptr<PhysicalConnection> surplus;  // closed after the lock is released
    try {
      std::lock_guard lock(mutex);
      if (bucket->idle.size() < kMaxIdlePerString)
        bucket->idle.push_back(std::move(connection));
      else
        surplus = std::move(connection);
    } catch (...) {
      // No room to keep it (out of memory): the connection is closed instead.
    }
  }

  std::mutex mutex;
  // One bucket per connection string (compared exactly); buckets are never erased, so a
  // connection handed out can always find its way back.
  std::unordered_map<std::string, std::unique_ptr<Bucket>, StringHash, std::equal_to<>> buckets;  // guarded by mutex
  std::atomic<std::size_t> opened{0};
};

ConnectionPool::ConnectionPool() : impl_(std::make_shared<Impl>()) {}

ConnectionPool& ConnectionPool::Instance() {
  static ConnectionPool pool;
  return pool;
}

std::shared_ptr<PhysicalConnection> ConnectionPool::Acquire(std::string_view connectionString) {
  Impl::Bucket* bucket = nullptr;
  std::unique_ptr<PhysicalConnection> connection;
  {
    std::lock_guard lock(impl_->mutex);
    auto it = impl_->buckets.find(connectionString);
    if (it == impl_->buckets.end())
      it = impl_->buckets.emplace(std::string(connectionString), std::make_unique<Impl::Bucket>()).first;
    bucket = it->second.get();
    if (!bucket->idle.empty()) {
      connection = std::move(bucket->idle.back());
      bucket->idle.pop_back();
    }
  }
  if (!connection) {
    connection = ProviderFor(connectionString).Connect(connectionString);
    impl_->opened.fetch_add(1);
  }

  auto pooled = std::make_unique<PooledConnection>(std::move(connection));
  std::weak_ptr<Impl> pool = impl_;
  // The deleter runs when the last holder lets go: the connection goes back to the pool unless
  // it is unfit or the pool itself has ended (at process exit).
  return std::shared_ptr<PhysicalConnection>(pooled.release(), [pool, bucket](PhysicalConnection* p) noexcept {
    std::unique_ptr<PooledConnection> holder(static_cast<PooledConnection*>(p));
    std::unique_ptr<PhysicalConnection> reusable = holder->TakeForReuse();
    if (!reusable) return;
    if (std::shared_ptr<Impl> impl = pool.lock()) impl->GiveBack(bucket, std::move(reusable));
  });
}

std::size_t ConnectionPool::PhysicalConnectionsOpened() const { return impl_->opened.load(); }

std::size_t ConnectionPool::IdleConnections() const {
  std::lock_guard lock(impl_->mutex);
  std::size_t idle = 0;
  for (const auto& [text, bucket] : impl_->buckets) idle += bucket->idle.size();
  return idle;
}

void ConnectionPool::Clear() {
  std::vector<std::unique_ptr<PhysicalConnection>> closing;  // closed after the lock is released
  std::lock_guard lock(impl_->mutex);
  for (auto& [text, bucket] : impl_->buckets)
    for (auto& connection : bucket->idle) closing.push_back(std::move(connection));
  for (auto& [text, bucket] : impl_->buckets) bucket->idle.clear();
}

}  // namespace morvane::db
