// The host over TLS, with a certificate made by the test and curl as the client: calls answered
// over HTTPS only, plain HTTP and garbage on the TLS port refused without disturbing others, and
// certificates that cannot be used refused at start.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/server_fixture.h"
#include "testing/temp_folder.h"

namespace morvane::testing {
namespace {

// What a command printed on standard output, and its exit status.
struct Ran {
  int status = -1;
  std::string output;
};

Ran Command(const std::string& line) {
  Ran run;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  run.status = ::pclose(pipe);
  return run;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class ServerTlsTest : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    certificate_ = folder_ / "cert.pem";
    key_ = folder_ / "key.pem";
    const Ran made = Command("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost "
                             "-addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout " +
                             key_.string() + " -out " + certificate_.string() + " 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
  }

  host::HostConfig TlsConfig() const {
    host::HostConfig config = Config();
    config.tls = host::TlsFiles{certificate_, key_};
    return config;
  }

  // curl over HTTPS, trusting the test's certificate: the body, then the status on a line.
  Ran Curl(const std::string& scheme, const std::string& path, const std::string& body = "") const {
    std::string line = "curl -s --max-time 20 --cacert " + certificate_.string() + " -w '\\n%{http_code}' " +
                       scheme + "://127.0.0.1:" + std::to_string(server_->port()) + path;
    if (!body.empty()) line += " -d " + Quoted(body);
    return Command(line);
  }
  static int HttpCode(const Ran& run) {
    const auto newline = run.output.rfind('\n');
    return newline == std::string::npos ? -1 : std::atoi(run.output.c_str() + newline + 1);
  }

  TempFolder folder_;
  std::filesystem::path certificate_;
  std::filesystem::path key_;
};

TEST_F(ServerTlsTest, CallsAreAnsweredOverHttpsAndOnlyOverHttps) {
  Start(TlsConfig());
  const Ran call = Curl("https", InfoPath("GetBaseList"), call::DumpJson(Json::array({Dsn()})));
  ASSERT_EQ(HttpCode(call), 200) << call.output;
  const Json answer = Json::parse(call.output.substr(0, call.output.rfind('\n')));
  EXPECT_TRUE(answer["result"].is_array()) << call.output;
  EXPECT_EQ(HttpCode(Curl("https", "/v1/health")), 200);

  // Plain HTTP on the TLS port: told so, in plain text.
  RawConnection plain(server_->port());
  ASSERT_TRUE(plain.Send("GET /v1/health HTTP/1.1\r\nHost: x\r\n\r\n"));
  const std::string refused = plain.ReadAll(std::chrono::seconds(10));
  EXPECT_EQ(StatusOf(refused), 400) << refused;
  EXPECT_NE(BodyOf(refused).find("HTTPS"), std::string::npos) << refused;
}

TEST_F(ServerTlsTest, GarbageOnTheTlsPortIsDroppedAndOthersAreServed) {
  host::HostConfig config = TlsConfig();
  config.firstByteTimeoutSeconds = 1;
  config.requestTimeoutSeconds = 2;
  Start(config);
  const std::string cases[] = {
      // A client hello whose 60 bytes are junk.
      std::string("\x16\x03\x01\x00\x40" "\x01\x00\x00\x3c", 9) + std::string(60, 'x'),
      std::string("\x16\x03\x01\xff\xff", 5),  // a record that never ends
      std::string("\x00\x01\x02\x03garbage\r\n\r\n", 15),
  };
  for (const std::string& garbage : cases) {
    RawConnection connection(server_->port());
    ASSERT_TRUE(connection.Send(garbage));
    // Dropped: with an alert or a plain refusal, then closed; never a TLS session.
    connection.ReadAll(std::chrono::seconds(15));
    EXPECT_EQ(HttpCode(Curl("https", "/v1/health")), 200);
  }
  std::size_t failedHandshakes = 0;
  for (const auto& line : server_->LogLines()) failedHandshakes += line.find("TLS handshake") != std::string::npos;
  EXPECT_GE(failedHandshakes, 1u) << ::testing::PrintToString(server_->LogLines());
}

TEST_F(ServerTlsTest, ACertificateOrKeyThatCannotBeUsedIsAStartUpError) {
  const std::filesystem::path garbage = folder_.Write("garbage.pem", "not a certificate\n");
  const std::filesystem::path otherKey = folder_ / "other-key.pem";
  ASSERT_EQ(Command("openssl genrsa -out " + otherKey.string() + " 2048 2>&1").status, 0);
  const struct {
    const char* what;
    std::filesystem::path certificate;
    std::filesystem::path key;
    const char* named;
  } cases[] = {
      {"a missing certificate", folder_ / "missing.pem", key_, "tls.certificate"},
      {"a certificate that is not one", garbage, key_, "tls.certificate"},
      {"a key that is not one", certificate_, garbage, "tls.privateKey"},
      {"the key of another certificate", certificate_, otherKey, "tls.privateKey"},
  };
  for (const auto& c : cases) {
    host::HostConfig config = Config();
    config.tls = host::TlsFiles{c.certificate, c.key};
    host::ServerOptions options;
    options.config = config;
    try {
      host::Server server(std::move(options));
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const host::HostConfigError& e) {
      EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << c.what << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace morvane::testing
