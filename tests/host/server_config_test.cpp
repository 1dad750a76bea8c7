// The host's configuration, the comparison of allowed connection strings, and the masking of
// passwords in what it writes.
#include <gtest/gtest.h>

#include <span>

#include "host/server.h"
#include "host/server_access_log.h"
#include "host/server_allow_list.h"
#include "host/server_config.h"
#include "testing/temp_folder.h"

namespace morvane::host {
namespace {

TEST(ServerConfigTest, ListenAddresses) {
  const struct {
    const char* text;
    const char* host;  // nullptr: refused
    int port;
  } cases[] = {
      {"127.0.0.1:8080", "127.0.0.1", 8080}, {"localhost:0", "localhost", 0},  {"[::1]:9000", "::1", 9000},
      {"0.0.0.0:65535", "0.0.0.0", 65535},   {"127.0.0.1", nullptr, 0},       {":8080", nullptr, 0},
      {"127.0.0.1:", nullptr, 0},            {"127.0.0.1:65536", nullptr, 0}, {"127.0.0.1:-1", nullptr, 0},
      {"127.0.0.1:80x", nullptr, 0},         {"::1:8080", nullptr, 0},        {"a b:1", nullptr, 0},
  };
  for (const auto& c : cases) {
    if (c.host == nullptr) {
      EXPECT_THROW(ParseListenAddress(c.text), HostConfigError) << c.text;
      continue;
    }
    ListenAddress address;
    ASSERT_NO_THROW(address = ParseListenAddress(c.text)) << c.text;
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(ParseListenAddress(address.Text()).host, address.host) << "Text() reads back: " << c.text;
  }
}

TEST(ServerConfigTest, AFileSetsEachKeyAndRefusesMistakes) {
  const HostConfig config = ParseHostConfig(R"({
      "listen": "0.0.0.0:9090", "allow": ["Provider=SQLite;Data Source=/a.db", "DSN=pg"],
      "token": "abc.DEF-123", "workers": 3, "maxBodyBytes": 1000, "requestTimeoutSeconds": 7,
      "transactionIdleSeconds": 30, "accessLog": "json", "maxConnectionsPerClient": 16,
      "firstByteTimeoutSeconds": 2, "maxHeldTransactions": 50, "maxHeldTransactionsPerClient": 5})",
                                            "test.json");
  EXPECT_EQ(config.listen.host, "0.0.0.0");
  EXPECT_EQ(config.listen.port, 9090);
  EXPECT_EQ(config.allow, (std::vector<std::string>{"Provider=SQLite;Data Source=/a.db", "DSN=pg"}));
  EXPECT_EQ(config.token, "abc.DEF-123");
  EXPECT_EQ(config.workers, 3);
  EXPECT_EQ(config.maxBodyBytes, 1000u);
  EXPECT_EQ(config.requestTimeoutSeconds, 7);
  EXPECT_EQ(config.transactionIdleSeconds, 30);
  EXPECT_EQ(config.accessLog, AccessLogFormat::Json);
  EXPECT_EQ(config.maxConnectionsPerClient, 16);
  EXPECT_EQ(config.firstByteTimeoutSeconds, 2);
  EXPECT_EQ(config.maxHeldTransactions, 50u);
  EXPECT_EQ(config.maxHeldTransactionsPerClient, 5u);

  const HostConfig defaults = ParseHostConfig("{}", "empty.json");
  EXPECT_EQ(defaults.listen.Text(), "127.0.0.1:8080") << "loopback unless told otherwise";
  EXPECT_TRUE(defaults.token.empty());
  EXPECT_EQ(defaults.transactionIdleSeconds, 60);
  EXPECT_FALSE(defaults.tls.has_value()) << "plain HTTP unless told otherwise";
  EXPECT_EQ(defaults.accessLog, AccessLogFormat::Text);
  EXPECT_EQ(defaults.maxConnectionsPerClient, 1024);
  EXPECT_EQ(defaults.firstByteTimeoutSeconds, 5);
  EXPECT_EQ(defaults.maxHeldTransactions, 1000u);
  EXPECT_EQ(defaults.maxHeldTransactionsPerClient, 100u);

  const struct {
    const char* json;
    const char* named;  // what the message must name
  } refused[] = {
      {"[]", "object"},
      {"{", "malformed"},
      {R"({"listn": "1.2.3.4:5"})", "listn"},
      {R"({"listen": 8080})", "listen"},
      {R"({"listen": "nowhere"})", "port"},
      {R"({"allow": "Provider=SQLite"})", "allow"},
      {R"({"allow": [1]})", "allow"},
      {R"({"token": ""})", "token"},
      {R"({"token": "with blank"})", "token"},
      {R"({"workers": 0})", "workers"},
      {R"({"workers": 2.5})", "workers"},
      {R"({"workers": "4"})", "workers"},
      {R"({"maxBodyBytes": 18446744073709551615})", "maxBodyBytes"},
      {R"({"requestTimeoutSeconds": -1})", "requestTimeoutSeconds"},
      {R"({"transactionIdleSeconds": 0})", "transactionIdleSeconds"},
      {R"({"accessLog": "xml"})", "accessLog"},
      {R"({"accessLog": 1})", "accessLog"},
      {R"({"maxConnectionsPerClient": 0})", "maxConnectionsPerClient"},
      {R"({"maxConnectionsPerClient": 1000001})", "maxConnectionsPerClient"},
      {R"({"firstByteTimeoutSeconds": 0})", "firstByteTimeoutSeconds"},
      {R"({"firstByteTimeoutSeconds": 3601})", "firstByteTimeoutSeconds"},
      {R"({"firstByteTimeoutSeconds": "5"})", "firstByteTimeoutSeconds"},
      {R"({"maxHeldTransactions": 0})", "maxHeldTransactions"},
      {R"({"maxHeldTransactions": 1.5})", "maxHeldTransactions"},
      {R"({"maxHeldTransactionsPerClient": -1})", "maxHeldTransactionsPerClient"},
      {R"({"maxHeldTransactionsPerClient": 1000001})", "maxHeldTransactionsPerClient"},
      {R"({"tls": "cert.pem"})", "tls"},
      {R"({"tls": {"certificate": "c.pem"}})", "privateKey"},
      {R"({"tls": {"privateKey": "k.pem"}})", "certificate"},
      {R"({"tls": {"certificate": 1, "privateKey": "k.pem"}})", "tls.certificate"},
      {R"({"tls": {"certificate": "c.pem", "privateKey": "k.pem", "ca": "x"}})", "tls.ca"},
  };
  for (const auto& c : refused) {
    try {
      ParseHostConfig(c.json, "bad.json");
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const HostConfigError& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.starts_with("bad.json: ")) << what;
      EXPECT_NE(what.find(c.named), std::string::npos) << c.json << " -> " << what;
    }
  }
}

TEST(ServerConfigTest, ReadingAFile) {
  testing::TempFolder folder;
  EXPECT_EQ(ReadHostConfig(folder.Write("host.json", R"({"workers": 2})")).workers, 2);
  EXPECT_THROW(ReadHostConfig(folder / "missing.json"), HostConfigError);
  EXPECT_THROW(ReadHostConfig(folder.path()), HostConfigError) << "a folder";
}

TEST(ServerAllowListTest, ConnectStringsCompareByTheirEntries) {
  const ConnectStringAllowList allow({"Provider=SQLite;Data Source=/srv/a.db", "Driver={PostgreSQL Unicode};Server=db;Database=cost"});
  const struct {
    const char* text;
    bool allowed;
  } cases[] = {
      {"Provider=SQLite;Data Source=/srv/a.db", true},
      {"  provider = SQLite ;  DATA SOURCE=/srv/a.db ; ", true},
      {"Data Source=/srv/a.db;Provider=SQLite", true},
      {"Provider=SQLite;Data Source=\"/srv/a.db\"", true},
      {"Database=cost;SERVER=db;driver={PostgreSQL Unicode}", true},
      {"Provider=SQLite;Data Source=/srv/A.db", false},
      {"Provider=sqlite;Data Source=/srv/a.db", false},
      {"Provider=SQLite;Data Source=/srv/a.db;Cache=shared", false},
      {"Provider=SQLite", false},
      {"Provider=SQLite;Data Source=/srv/b.db;Data Source=/srv/a.db", false},
      {"Provider=SQLite;Data Source=/srv/a.db;data source=/srv/a.db", false},
      {"Provider=SQLite;Data Source=\"/srv/a.db", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(allow.Allows(c.text), c.allowed) << c.text;

  EXPECT_THROW(ConnectStringAllowList({"Provider=SQLite;Data Source=/a;DATA SOURCE=/b"}), HostConfigError);
  EXPECT_THROW(ConnectStringAllowList({"Provider={SQLite"}), HostConfigError);
  try {
    ConnectStringAllowList({"DSN=x", "DSN=y;PWD=secret;pwd=again"});
  } catch (const HostConfigError& e) {
    EXPECT_NE(std::string(e.what()).find("2"), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find("secret"), std::string::npos) << e.what();
  }
}

TEST(ServerAllowListTest, TheValidatorLooksAtEveryDescription) {
  const ConnectStringAllowList allow({"Provider=SQLite;Data Source=/srv/a.db"});
  const call::CallValidator validate = allow.Validator();
  automation::MemberInfo member;
  member.name = "Call";
  member.params = {{"sDsn", automation::VT_BSTR}, {"sOther", automation::VT_BSTR}, {"vAny", automation::VT_VARIANT}};
  const std::string good = "ConnectString={Provider=SQLite;Data Source=/srv/a.db};UserID=1";
  const std::string bad = "ConnectString={Provider=SQLite;Data Source=/srv/b.db;Password=pw1};UserID=1";
  const struct {
    const char* what;
    std::vector<automation::Variant> args;
    bool refused;
  } cases[] = {
      {"allowed", {good, "plain text", 5}, false},
      {"sDsn not allowed", {bad, "plain text", 5}, true},
      {"another text parameter holding a description", {good, bad, 5}, true},
      {"a variant parameter holding a description", {good, "x", bad}, true},
      {"a description without ConnectString", {"UserID=1;LANGUAGE=en", "x", 1}, false},
      {"a description that does not parse (its method refuses it)", {"ConnectString={x};ConnectString={y}", "", 1},
       false},
  };
  automation::TypeInfo type;
  for (const auto& c : cases) {
    const auto refusal = validate(type, member, std::span<const automation::Variant>(c.args));
    EXPECT_EQ(refusal.has_value(), c.refused) << c.what;
    if (refusal) {
      EXPECT_NE(refusal->find("not allowed"), std::string::npos) << *refusal;
      EXPECT_EQ(refusal->find("pw1"), std::string::npos) << "a password in the refusal: " << *refusal;
    }
  }
}

TEST(ServerAccessLogTest, PasswordsAreMaskedWhereverTheyStand) {
  const struct {
    const char* text;
    const char* masked;
  } cases[] = {
      {"Driver=x;UID=sa;PWD=secret", "Driver=x;UID=sa;PWD=***"},
      {"Driver=x;pwd = secret ;UID=sa", "Driver=x;pwd = *** ;UID=sa"},
      {"PASSWORD=a;b", "PASSWORD=***;b"},
      {"ConnectString={DSN=x;Password=p};UserID=1", "ConnectString={DSN=x;Password=***};UserID=1"},
      {"Driver=x;PWD={se;cr}}et};UID=sa", "Driver=x;PWD=***;UID=sa"},
      {"Driver=x;PWD=\"se;cret\";UID=sa", "Driver=x;PWD=***;UID=sa"},
      {"/v1/x?PWD=abc", "/v1/x?PWD=abc"},  // not at a key's start: left alone
      {"the path /v1/Pwd=abc", "the path /v1/Pwd=abc"},
      {"note Password=abc", "note Password=***"},
      {"UserPWD=abc;OldPassword=x", "UserPWD=abc;OldPassword=x"},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskPasswords(c.text), c.masked) << c.text;

  EXPECT_EQ(LogSafe("a\nb\x01\xC3\xA9 PWD=x"), "a\\x0Ab\\x01\\xC3\\xA9 PWD=***");
  EXPECT_EQ(LogSafe(std::string(300, 'a'), 10), "aaaaaaaaaa...");
}

// Every field of a line may hold a client's bytes; none may end the line or reach a terminal as a
// control sequence.
TEST(ServerAccessLogTest, EveryFieldIsEscaped) {
  const struct {
    std::string AccessLogEntry::*field;
    const char* value;
    const char* expected;  // what the line holds in place of the hostile bytes
  } cases[] = {
      {&AccessLogEntry::transaction, "\nFORGED ", " tx=\\x0AFORGED "},
      {&AccessLogEntry::transaction, "\x1B[31mred", " tx=\\x1B[31mred"},
      {&AccessLogEntry::method, "GE\rT", " GE\\x0DT "},
      {&AccessLogEntry::target, "/v1/a\r\nb", " /v1/a\\x0D\\x0Ab "},
      {&AccessLogEntry::remote, "1.2.3.4:5\n", " 1.2.3.4:5\\x0A "},
  };
  for (const auto& c : cases) {
    AccessLogEntry entry;
    entry.*c.field = c.value;
    const std::string line = FormatAccessLogLine(entry);
    EXPECT_EQ(line.find_first_of("\r\n\x1B"), std::string::npos) << line;
    EXPECT_NE(line.find(c.expected), std::string::npos) << line;
  }
}

TEST(ServerAccessLogTest, CurlExampleQuotesTheDescriptionForTheShell) {
  const std::string sDsn = "ConnectString={Provider=SQLite;Data Source=/tmp/o'brien/morvane.db};UserID=1";
  EXPECT_EQ(CurlExample({"127.0.0.1", 8080}, sDsn, false),
            "curl -s -X POST http://127.0.0.1:8080/v1/Morvane.VchTempSetInfo/GetBaseList -d "
            "'[\"ConnectString={Provider=SQLite;Data Source=/tmp/o'\\''brien/morvane.db};UserID=1\"]'");
  const std::string withToken = CurlExample({"0.0.0.0", 9000}, "x", true);
  EXPECT_NE(withToken.find("http://127.0.0.1:9000/"), std::string::npos) << withToken;
  EXPECT_NE(withToken.find("Authorization: Bearer $MORVANE_TOKEN"), std::string::npos) << withToken;
}

}  // namespace
}  // namespace morvane::host
