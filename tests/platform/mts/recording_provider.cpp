#include "recording_provider.h"

#include "platform/automation/error.h"
#include "platform/db/pool.h"

namespace morvane::mts::testing {

namespace {

class RecordingConnection final : public db::PhysicalConnection {
 public:
  RecordingConnection(std::shared_ptr<ProviderLog> log, std::string connectionString, int number)
      : log_(std::move(log)), connectionString_(std::move(connectionString)), number_(number) {}

  db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter>) override {
    Record("exec " + std::string(sql));
    db::ResultSet result;
    result.rowsAffected = 1;
    return result;
  }
  void Begin() override {
    Record("begin");
    if (Fails(log_->failBeginFor)) automation::Raise(kInjectedFault, "RecordingProvider", "injected begin failure");
  }
  void Commit() override {
    if (Fails(log_->failCommitFor)) {
      Record("commit failed");
      automation::Raise(kInjectedFault, "RecordingProvider", "injected commit failure");
    }
    Record("commit");
  }
  void Rollback() override { Record("rollback"); }
  std::vector<std::pair<std::string, db::Variant>> Properties() override { return {}; }
  bool IsUsable() const override { return true; }

 private:
  void Record(std::string what) {
    std::lock_guard lock(log_->mutex);
    log_->events.push_back(std::to_string(number_) + ":" + what);
  }
  bool Fails(const std::set<std::string>& which) {
    std::lock_guard lock(log_->mutex);
    return which.contains(connectionString_);
  }

  std::shared_ptr<ProviderLog> log_;
  std::string connectionString_;
  int number_;
};

}  // namespace

std::unique_ptr<db::PhysicalConnection> RecordingProvider::Connect(std::string_view connectionString) {
  std::lock_guard lock(log_->mutex);
  return std::make_unique<RecordingConnection>(log_, std::string(connectionString), ++log_->connectionsOpened);
}

std::vector<std::string> RecordingProvider::Events() const {
  std::lock_guard lock(log_->mutex);
  return log_->events;
}

void RecordingProvider::FailCommitFor(std::string connectionString) {
  std::lock_guard lock(log_->mutex);
  log_->failCommitFor.insert(std::move(connectionString));
}

void RecordingProvider::FailBeginFor(std::string connectionString) {
  std::lock_guard lock(log_->mutex);
  log_->failBeginFor.insert(std::move(connectionString));
}

ProviderOverride::ProviderOverride() {
  db::ConnectionPool::Instance().Clear();
  db::SetProviderOverride(&provider_);
}

ProviderOverride::~ProviderOverride() {
  db::ConnectionPool::Instance().Clear();
  db::SetProviderOverride(nullptr);
}

}  // namespace morvane::mts::testing
