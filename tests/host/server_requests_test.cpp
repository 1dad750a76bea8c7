// What the host does with requests it must not serve as asked: bad input of every kind, a
// missing token, a connection string it may not open, a slow client; and many clients at once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "host/server_fixture.h"

namespace morvane::testing {

namespace errors = automation::errors;
namespace {

class ServerRequestsTest : public HostFixture {};

TEST_F(ServerRequestsTest, MalformedRequestsAreAnsweredAndTheServerGoesOn) {
  host::HostConfig config = Config();
  config.token = "t0ken-for-tests";
  Start(config);
  const httplib::Headers bearer = {{"Authorization", "Bearer t0ken-for-tests"}};
  HostClient client = Client(bearer);
  HostClient anonymous = Client();

  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  const std::string big = "[\"" + std::string(100 * 1024, 'x') + "\"]";
  const Json hugeValue = Json::parse(R"({"FVchClass":"V1","FTypeID":"301","FExpDeptID":"D09","FExpenseID":"E01",)"
                                     R"("FRemark":"r","FAcctID":1e300})");
  const struct {
    const char* what;
    std::function<Reply()> request;
    int status;
  } cases[] = {
      {"bad JSON", [&] { return client.Post(InfoPath("GetBaseList"), std::string("[\"unterminated")); }, 400},
      {"JSON that is neither array nor object", [&] { return client.Post(InfoPath("GetBaseList"), std::string("42")); },
       400},
      {"text after the JSON", [&] { return client.Post(InfoPath("GetBaseList"), std::string("[] []")); }, 400},
      {"nesting 10,000 deep", [&] { return client.Post(InfoPath("GetBaseList"), deep); }, 400},
      {"a number beyond the double range", [&] { return client.Post(InfoPath("GetBaseList"), std::string("[1e999]")); },
       400},
      {"a huge number for an integer column (the call's own overflow)",
       [&] { return client.Post(UpdatePath("Append"), Json::array({Dsn("en"), Json::array({hugeValue})})); }, 422},
      {"invalid UTF-8", [&] { return client.Post(InfoPath("GetBaseList"), std::string("[\"\xC3\x28\"]")); }, 400},
      {"wrong argument count",
       [&] { return client.Post(UpdatePath("Delete"), Json::array({Dsn(), Json::object(), true, 1, 2})); }, 400},
      {"wrong type", [&] { return client.Post(UpdatePath("Delete"), Json::array({Dsn(), "not a filter"})); }, 400},
      {"a body over the limit", [&] { return client.Post(InfoPath("GetBaseList"), big); }, 413},
      {"a chunked body over the limit",
       [&] {
         return HostClient::Make(client.raw().Post(
             InfoPath("GetBaseList").c_str(), bearer,
             [&](std::size_t offset, httplib::DataSink& sink) {
               if (offset >= big.size()) {
                 sink.done();
                 return true;
               }
               return sink.write(big.data() + offset, std::min<std::size_t>(4096, big.size() - offset));
             },
             "application/json"));
       },
       413},
      {"an unknown transaction",
       [&] {
         return client.Post(InfoPath("GetBaseList"), Json::array({Dsn()}), {{"Transaction", std::string(32, '0')}});
       },
       404},
      {"an unknown class", [&] { return client.Post(CallPath("No.Such", "Call"), std::string("[]")); }, 404},
      {"a missing token", [&] { return anonymous.Post(InfoPath("GetBaseList"), Json::array({Dsn()})); }, 401},
      {"a wrong token",
       [&] {
         return anonymous.Post(InfoPath("GetBaseList"), Json::array({Dsn()}),
                               {{"Authorization", "Bearer t0ken-for-test"}});
       },
       401},
      {"another scheme",
       [&] {
         return anonymous.Post(InfoPath("GetBaseList"), Json::array({Dsn()}), {{"Authorization", "Basic dDBrZW4="}});
       },
       401},
      {"the classes without a token", [&] { return anonymous.Get("/v1/classes"); }, 401},
      {"a transaction without a token", [&] { return anonymous.Post("/v1/transactions", std::string()); }, 401},
  };
  for (const auto& c : cases) {
    const Reply reply = c.request();
    EXPECT_EQ(reply.status, c.status) << c.what << ": " << reply;
    EXPECT_TRUE(IsErrorBody(reply.body)) << c.what << ": " << reply;
    // The server goes on serving, with and without the token.
    EXPECT_EQ(anonymous.Get("/v1/health").status, 200) << "after " << c.what;
    EXPECT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200) << "after " << c.what;
  }
  EXPECT_TRUE(Settings().empty());
}

TEST_F(ServerRequestsTest, RequestsThatNoClientLibrarySendsAreAnsweredWithJson) {
  Start();
  const struct {
    const char* what;
    std::string bytes;
    int status;
  } cases[] = {
      {"a request line that is not HTTP", "HELLO\r\n\r\n", 400},
      {"a Content-Length that is not a number",
       "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 1x\r\n\r\n[]", 400},
      {"a length and chunks at once",
       "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n"
       "Transfer-Encoding: chunked\r\n\r\n2\r\n[]\r\n0\r\n\r\n",
       400},
      {"a declared length over the limit",
       "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999999\r\n\r\n[]",
       413},
      {"asking to send a body over the limit",
       "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
       "Content-Length: 70000\r\n\r\n",
       413},
      {"a GET with a body", "GET /v1/nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nHELLO", 404},
      {"a POST without a length (no body)",
       "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(connection.Send(c.bytes)) << c.what;
    const std::string answer = connection.ReadAll(std::chrono::seconds(20));
    EXPECT_EQ(StatusOf(answer), c.status) << c.what << ": " << answer;
    Json body;
    try {
      body = call::ParseJson(BodyOf(answer));
    } catch (const call::JsonFormError&) {
    }
    EXPECT_TRUE(IsErrorBody(body)) << c.what << ": " << answer;
  }
  EXPECT_EQ(Client().Get("/v1/health").status, 200);
}

TEST_F(ServerRequestsTest, AConnectionStringNotAllowedIsRefusedBeforeAnythingOpens) {
  Start();
  HostClient client = Client();
  const std::filesystem::path other = dir_ / "other.db";
  const std::string allowed = path_.string();
  const auto dsn = [](const std::string& connectString) {
    return "ConnectString={" + connectString + "};UserName=tester;UserID=1;DBMS Name=SQLite;DBMS Version=test;"
           "LANGUAGE=en";
  };
  const struct {
    const char* what;
    std::string connectString;
  } refused[] = {
      {"another file", "Provider=SQLite;Data Source=" + other.string()},
      {"another file, with a password", "Provider=SQLite;Data Source=" + other.string() + ";PWD=hunter2"},
      {"the allowed file named twice, another one first",
       "Provider=SQLite;Data Source=" + other.string() + ";Data Source=" + allowed},
      {"the allowed file named twice, another one last",
       "Provider=SQLite;Data Source=" + allowed + ";Data Source=" + other.string()},
      {"the allowed file with an entry more", "Provider=SQLite;Data Source=" + allowed + ";Foreign Keys=off"},
  };
  for (const auto& c : refused) {
    const Reply list = client.Post(InfoPath("GetBaseList"), Json::array({dsn(c.connectString)}));
    EXPECT_EQ(list.status, 403) << c.what << ": " << list;
    EXPECT_TRUE(IsErrorBody(list.body)) << c.what << ": " << list;
    EXPECT_EQ(list.ErrorNumber(), errors::kPermissionDenied) << c.what;
    EXPECT_NE(list.Description().find("not allowed"), std::string::npos) << c.what << ": " << list;
    EXPECT_EQ(list.text.find("hunter2"), std::string::npos) << c.what << ": " << list;
    const Reply append = client.Post(
        UpdatePath("Append"), Json{{"sDsn", dsn(c.connectString)}, {"Properties", Json::array({SettingJson("V", "301", "D", "E")})}});
    EXPECT_EQ(append.status, 403) << c.what << ": " << append;
    EXPECT_FALSE(std::filesystem::exists(other)) << c.what << ": the refused database was opened";
  }
  for (const auto& line : server_->LogLines()) EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;

  // Spelt differently, the same connection string is allowed.
  const Reply respelt = client.Post(InfoPath("GetBaseList"),
                                    Json::array({dsn(" data source = " + allowed + " ;  PROVIDER=SQLite ;")}));
  EXPECT_EQ(respelt.status, 200) << respelt;
  EXPECT_TRUE(Settings().empty());
}

TEST_F(ServerRequestsTest, WithoutATokenConfiguredNoHeaderIsNeeded) {
  Start();
  HostClient client = Client();
  EXPECT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200);
  EXPECT_EQ(client.Get("/v1/classes").status, 200);
  // A header sent anyway changes nothing.
  EXPECT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()}), {{"Authorization", "Bearer whatever"}}).status,
            200);
}

TEST_F(ServerRequestsTest, ASlowClientIsCutWithoutHoldingUpOthers) {
  host::HostConfig config = Config();
  config.requestTimeoutSeconds = 1;
  config.workers = 2;
  Start(config);
  const std::string body = call::DumpJson(Json::array({Dsn()}));
  const std::string head = "POST /v1/Morvane.VchTempSetInfo/GetBaseList HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n";
  const struct {
    const char* what;
    std::string sentAtOnce;
    std::string dribbled;
  } cases[] = {{"the request line a byte at a time", "", head + body}, {"the body a byte at a time", head, body}};
  for (const auto& c : cases) {
    RawConnection slow(server_->port());
    ASSERT_TRUE(slow.connected());
    ASSERT_TRUE(slow.Send(c.sentAtOnce));
    std::atomic<bool> cut{false};
    std::size_t sent = 0;
    std::thread dribbler([&] {
      for (; sent < c.dribbled.size(); ++sent) {
        if (!slow.Send(c.dribbled.substr(sent, 1)) || slow.Readable(std::chrono::milliseconds(100))) {
          cut = true;
          return;
        }
      }
    });
    // Meanwhile others are served.
    HostClient client = Client();
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(client.Post(InfoPath("GetBaseList"), Json::array({Dsn()})).status, 200) << c.what;
    dribbler.join();
    EXPECT_TRUE(cut) << c.what << ": the server read the whole request, " << c.dribbled.size()
                     << " bytes at 10 a second";
    const std::string answer = slow.ReadAll(std::chrono::seconds(5));
    if (!answer.empty()) {
      EXPECT_EQ(StatusOf(answer), 408) << c.what << ": " << answer;
    }
  }
  EXPECT_EQ(Client().Get("/v1/health").status, 200);
}

TEST_F(ServerRequestsTest, EightClientsAppendAndListAtOnceWithoutLosingARow) {
  Start();
  constexpr int kClients = 8;
  constexpr int kRounds = 80;
  std::atomic<int> failures{0};
  std::vector<std::string> messages(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      HostClient client = Client();
      for (int round = 0; round < kRounds; ++round) {
        Reply reply;
        if (round % 2 == 0) {
          // Numbers named first: GCC 12 warns (-Wrestrict) at -O3 on "C" + std::to_string(...).
          const std::string clientNumber = std::to_string(c), roundNumber = std::to_string(round);
          const Json row = SettingJson("C" + clientNumber, "301", "D" + roundNumber, "E01");
          reply = client.Post(UpdatePath("Append"), Json::array({Dsn(), Json::array({row}), true}));
        } else {
          reply = client.Post(InfoPath("GetBaseList"), Json::array({Dsn()}));
        }
        if (reply.status != 200) {
          ++failures;
          messages[c] = "round " + std::to_string(round) + ": " + ::testing::PrintToString(reply);
        }
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(failures.load(), 0) << ::testing::PrintToString(messages);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM CB_CostVchTempSet"),
            std::vector<std::string>{std::to_string(kClients * kRounds / 2)});
}

}  // namespace
}  // namespace morvane::testing
