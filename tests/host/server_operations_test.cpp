// The operators' routes through a running host: readiness that notices a database gone while
// liveness stays up, and the metrics that the calls leave behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/server_fixture.h"

namespace morvane::testing {
namespace {

class ServerOperationsTest : public HostFixture {};

TEST_F(ServerOperationsTest, ReadinessFailsNamingTheDatabaseOnceItsFileIsGoneWhileHealthStaysUp) {
  Start();
  HostClient client = Client();
  ASSERT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  const Reply ready = client.Get("/v1/ready");
  EXPECT_EQ(ready.status, 200) << ready;
  EXPECT_EQ(ready.body.value("status", ""), "ready") << ready;

  std::filesystem::remove(path_);
  const Reply gone = client.Get("/v1/ready");
  EXPECT_EQ(gone.status, 503) << gone;
  EXPECT_TRUE(IsErrorBody(gone.body)) << gone;
  EXPECT_NE(gone.Description().find(path_.string()), std::string::npos) << gone;
  EXPECT_EQ(client.Get("/v1/health").status, 200);
}

TEST_F(ServerOperationsTest, MetricsCountTheCallsTheirStatusesAndTheRaisedErrors) {
  host::HostConfig config = Config();
  config.token = "t0ken";
  Start(config);
  HostClient client = Client({{"Authorization", "Bearer t0ken"}});
  ASSERT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  ASSERT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  // The same setting twice: the second append raises the component's duplicate-key error.
  const Json append = Json::array({Dsn("en"), Json::array({SettingJson("V1", "301", "D01", "X1")})});
  ASSERT_EQ(client.Post(UpdatePath("Append"), append).status, 200);
  ASSERT_EQ(client.Post(UpdatePath("Append"), append).status, 422);
  EXPECT_EQ(Client().Get("/metrics").status, 401);

  // A line is counted once its answer has gone out: wait for the last one.
  std::string text;
  for (int i = 0; i < 200; ++i) {
    text = client.Get("/metrics").text;
    if (text.find("status=\"422\"") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto has = [&text](const std::string& series) {
    return text.find(series) != std::string::npos;
  };
  EXPECT_TRUE(has(R"(morvane_requests_total{class="Morvane.VchTempSetInfo",endpoint="call",member="GetBaseList",status="200"} 2)"))
      << text;
  EXPECT_TRUE(has(R"(class="Morvane.VchTempSetUpdate",endpoint="call",member="Append",status="422"} 1)")) << text;
  EXPECT_TRUE(has("morvane_raised_errors_total{number=")) << text;
  EXPECT_TRUE(has("morvane_request_duration_seconds_bucket")) << text;
  EXPECT_TRUE(has("morvane_open_connections")) << text;
  EXPECT_TRUE(has("morvane_workers 8")) << text;
}

}  // namespace
}  // namespace morvane::testing
