#include "recording_provider.h"

#include "platform/automation/error.h"

namespace morvane::mts::testing {

namespace {

class RecordingConnection final : public morvane::testing::ForwardingConnection {
 public:
  RecordingConnection(std::unique_ptr<db::PhysicalConnection> inner, std::shared_ptr<ProviderLog> log,
                      std::string connectionString, int number)
      : ForwardingConnection(std::move(inner)),
        log_(std::move(log)),
        connectionString_(std::move(connectionString)),
        number_(number) {}

  db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
    Record("exec " + std::string(sql));
    return ForwardingConnection::Execute(sql, params);
  }
  void Begin() override {
    Record("begin");
    if (Fails(log_->failBeginFor)) automation::Raise(kInjectedFault, "RecordingProvider", "injected begin failure");
    ForwardingConnection::Begin();
  }
  void Commit() override {
    if (Fails(log_->failCommitFor)) {
      Record("commit failed");
      automation::Raise(kInjectedFault, "RecordingProvider", "injected commit failure");
    }
    Record("commit");
    ForwardingConnection::Commit();
  }
  void Rollback() override {
    Record("rollback");
    ForwardingConnection::Rollback();
  }

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

RecordingProvider::RecordingProvider() : ForwardingProvider(morvane::testing::InertProvider::Instance()) {}

std::unique_ptr<db::PhysicalConnection> RecordingProvider::Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                                                std::string_view connectionString) {
  std::lock_guard lock(log_->mutex);
  return std::make_unique<RecordingConnection>(std::move(connection), log_, std::string(connectionString),
                                               ++log_->connectionsOpened);
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

}  // namespace morvane::mts::testing
