// What connections cost the host: idle and half-sent ones hold no worker, one client address is
// capped, and a kept-alive connection carries request after request.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "host/server_fixture.h"

namespace morvane::testing {
namespace {

class ServerConnectionsTest : public HostFixture {};

TEST_F(ServerConnectionsTest, IdleAndHalfSentConnectionsLeaveTheWorkersFree) {
  host::HostConfig config = Config();
  config.workers = 2;
  // Long enough that none of the connections below is cut while the clients are served.
  config.firstByteTimeoutSeconds = 60;
  config.requestTimeoutSeconds = 60;
  Start(config);
  const std::string body = call::DumpJson(Json::array({Dsn()}));
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int i = 0; i < 50; ++i) held.push_back(std::make_unique<RawConnection>(server_->port()));
  for (int i = 0; i < 10; ++i) {
    auto halfSent = std::make_unique<RawConnection>(server_->port());
    ASSERT_TRUE(halfSent->Send("POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body.substr(0, 5)));
    held.push_back(std::move(halfSent));
  }
  for (const auto& connection : held) ASSERT_TRUE(connection->connected());

  // A thread per connection would keep both workers for a minute: these would not be answered.
  HostClient client = Client();
  client.raw().set_read_timeout(10, 0);
  EXPECT_EQ(client.Get("/v1/health").status, 200);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  // The server stops with all of them still open (the fixture's end would hang otherwise).
}

TEST_F(ServerConnectionsTest, AClientAddressOverItsCapIsAnswered429AndServedAgainOnceItClosesOne) {
  host::HostConfig config = Config();
  config.maxConnectionsPerClient = 3;
  Start(config);
  std::vector<std::unique_ptr<RawConnection>> open;
  for (int i = 0; i < 3; ++i) {
    open.push_back(std::make_unique<RawConnection>(server_->port()));
    // Answered, so the server has surely taken the connection.
    ASSERT_TRUE(open.back()->Send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(open.back()->Readable(std::chrono::seconds(10)));
    char buffer[4096];
    ASSERT_GT(::recv(open.back()->fd(), buffer, sizeof buffer, 0), 0);
  }
  RawConnection fourth(server_->port());
  ASSERT_TRUE(fourth.connected());
  const std::string refused = fourth.ReadAll(std::chrono::seconds(10));
  EXPECT_EQ(StatusOf(refused), 429) << refused;
  EXPECT_TRUE(IsErrorBody(Json::parse(BodyOf(refused), nullptr, false))) << refused;

  open.pop_back();
  int status = -1;
  for (int i = 0; i < 100 && status != 200; ++i) {
    status = Client().Get("/v1/health").status;
    if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(status, 200);
}

TEST_F(ServerConnectionsTest, AKeptAliveConnectionAnswersPipelinedRequestsInOrderAndASilentOneIsClosed) {
  host::HostConfig config = Config();
  config.firstByteTimeoutSeconds = 1;
  Start(config);
  RawConnection connection(server_->port());
  ASSERT_TRUE(connection.Send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"
                              "GET /v1/nowhere HTTP/1.1\r\nHost: x\r\n\r\n"
                              "GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
  // Read until the server closes the silent connection after its first-byte timeout.
  const std::string answers = connection.ReadAll(std::chrono::seconds(10));
  std::vector<int> statuses;
  for (std::size_t at = answers.find("HTTP/1.1 "); at != std::string::npos; at = answers.find("HTTP/1.1 ", at + 1))
    statuses.push_back(std::stoi(answers.substr(at + 9, 3)));
  EXPECT_EQ(statuses, (std::vector<int>{200, 404, 200})) << answers;
  // Ended by the server closing it, not by the wait running out.
  ASSERT_TRUE(connection.Readable(std::chrono::milliseconds(0)));
  char byte;
  EXPECT_EQ(::recv(connection.fd(), &byte, 1, 0), 0);
}

}  // namespace
}  // namespace morvane::testing
