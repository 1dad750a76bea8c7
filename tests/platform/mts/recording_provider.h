// RecordingProvider: a fake database provider for the runtime's tests. Its connections run no
// SQL; they record what is asked of them (begin, each statement, commit, rollback) in one shared
// log, numbered by connection in the order they were opened, and can be told to fail a commit
// or a begin. Install it with ProviderOverride for the duration of a test.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/provider.h"

namespace morvane::mts::testing {

struct ProviderLog {
  std::mutex mutex;
  std::vector<std::string> events;         // "1:begin", "1:exec insert ...", "2:commit"; guarded by mutex
  std::set<std::string> failCommitFor;      // connection strings whose Commit raises; guarded by mutex
  std::set<std::string> failBeginFor;       // connection strings whose Begin raises; guarded by mutex
  int connectionsOpened = 0;                // guarded by mutex
};

// The error number of the faults that the recording connections inject.
constexpr int kInjectedFault = 7001;

class RecordingProvider final : public db::Provider {
 public:
  std::unique_ptr<db::PhysicalConnection> Connect(std::string_view connectionString) override;

  std::vector<std::string> Events() const;
  void FailCommitFor(std::string connectionString);
  void FailBeginFor(std::string connectionString);

 private:
  std::shared_ptr<ProviderLog> log_ = std::make_shared<ProviderLog>();
};

// Installs a fresh RecordingProvider for every connection string and empties the pool around
// it, so that each test starts with no pooled connection and its own numbering.
class ProviderOverride {
 public:
  ProviderOverride();
  ~ProviderOverride();
  ProviderOverride(const ProviderOverride&) = delete;
  ProviderOverride& operator=(const ProviderOverride&) = delete;

  RecordingProvider& provider() { return provider_; }

 private:
  RecordingProvider provider_;
};

}  // namespace morvane::mts::testing
