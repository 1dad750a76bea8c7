// The fixture of the runtime's tests on the recording provider: registers the test classes,
// installs a fresh RecordingProvider and gives the test a connection string of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_provider.h"
#include "test_objects.h"
#include "testing/provider_override.h"

namespace morvane::mts::testing {

using Events = std::vector<std::string>;

class RuntimeTest : public ::testing::Test {
 protected:
  RuntimeTest() { RegisterTestClasses(); }

  RecordingProvider& provider() { return provider_; }
  Events events() { return provider_.Events(); }
  // A connection string that no other test uses (the provider never opens it).
  static std::string ConnectionString(const std::string& suffix = "a") {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return "Provider=SQLite;Data Source=recorded-" + std::string(test->test_suite_name()) + "-" + test->name() +
           "-" + suffix + ".db";
  }

  RecordingProvider provider_;
  morvane::testing::ProviderOverride override_{provider_};
};

}  // namespace morvane::mts::testing
