// RecordingProvider: a fake database provider for the runtime's tests. Its connections run no
// SQL (they forward to the inert provider); they record what is asked of them (begin, each
// statement, commit, rollback) in one shared log, numbered by connection in the order they were
// opened, and can be told to fail a commit or a begin. Install it with a ProviderOverride
// (testing/provider_override.h) for the duration of a test.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "testing/forwarding_provider.h"

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

class RecordingProvider final : public morvane::testing::ForwardingProvider {
 public:
  RecordingProvider();

  std::vector<std::string> Events() const;
  void FailCommitFor(std::string connectionString);
  void FailBeginFor(std::string connectionString);

 private:
  std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                               std::string_view connectionString) override;

  std::shared_ptr<ProviderLog> log_ = std::make_shared<ProviderLog>();
};

}  // namespace morvane::mts::testing
