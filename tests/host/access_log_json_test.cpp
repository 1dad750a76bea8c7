// The access log's JSON form: one object per line that parses back to what the request held,
// whatever bytes a client put into a field.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "host/server_access_log.h"

namespace morvane::host {
namespace {

using nlohmann::json;

AccessLogEntry SampleEntry() {
  AccessLogEntry entry;
  entry.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1796860200123));
  entry.remote = "127.0.0.1:51234";
  entry.method = "POST";
  entry.target = "/v1/Morvane.VchTempSetUpdate/Append";
  entry.status = 422;
  entry.durationMs = 3.24;
  entry.errorNumber = 10007;
  entry.transaction = "3f2a91c0";
  return entry;
}

// Parses a line strictly (invalid UTF-8 in it would throw) and checks that it holds printable
// ASCII only, so no byte of it can end the line or drive a terminal.
json ParseLine(const std::string& line) {
  for (unsigned char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "raw byte " << int(c) << " in " << line;
  try {
    return json::parse(line);
  } catch (const json::exception& e) {
    ADD_FAILURE() << e.what() << ": " << line;
    return {};
  }
}

TEST(AccessLogJsonTest, EveryFieldOfTheEntry) {
  const json line = ParseLine(FormatAccessLogLine(SampleEntry(), AccessLogFormat::Json));
  EXPECT_EQ(line, json::parse(R"({"time": "2026-12-09T23:50:00.123Z", "remote": "127.0.0.1:51234",
      "method": "POST", "target": "/v1/Morvane.VchTempSetUpdate/Append", "status": 422, "durationMs": 3.2,
      "error": 10007, "transaction": "3f2a91c0"})"));

  AccessLogEntry plain = SampleEntry();
  plain.errorNumber = 0;
  plain.transaction.clear();
  const json withoutError = ParseLine(FormatAccessLogLine(plain, AccessLogFormat::Json));
  EXPECT_TRUE(withoutError.at("error").is_null()) << withoutError;
  EXPECT_TRUE(withoutError.at("transaction").is_null()) << withoutError;
}

TEST(AccessLogJsonTest, TheTextFormIsTheDefault) {
  EXPECT_EQ(FormatAccessLogLine(SampleEntry()),
            "2026-12-09T23:50:00.123Z 127.0.0.1:51234 POST /v1/Morvane.VchTempSetUpdate/Append 422 3.2ms "
            "error=10007 tx=3f2a91c0");
  EXPECT_EQ(FormatAccessLogLine(SampleEntry(), AccessLogFormat::Text), FormatAccessLogLine(SampleEntry()));
}

// A client's bytes in any field: the line parses back, holds no raw control byte, and the field
// reads back as sent (control characters kept, bytes that are not UTF-8 as U+FFFD).
TEST(AccessLogJsonTest, HostileBytesInEveryFieldParseBack) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string AccessLogEntry::*field;
    const char* key;
    std::string value;
    std::string readBack;
  } cases[] = {
      {&AccessLogEntry::target, "target", "/v1/a\r\n{\"forged\":1}", "/v1/a\r\n{\"forged\":1}"},
      {&AccessLogEntry::target, "target", "/v1/\x1B[31mred\x07", "/v1/\x1B[31mred\x07"},
      {&AccessLogEntry::target, "target", "/v1/\xC3\xA9t\xC3\xA9", "/v1/\xC3\xA9t\xC3\xA9"},
      {&AccessLogEntry::target, "target", "/v1/\xFF\xFE", "/v1/" + replacement + replacement},
      {&AccessLogEntry::target, "target", "/v1/\xC2\x9B" "31m", "/v1/\xC2\x9B" "31m"},  // C1 CSI, valid UTF-8
      {&AccessLogEntry::target, "target", std::string("/v1/a\0b", 7), std::string("/v1/a\0b", 7)},
      {&AccessLogEntry::method, "method", "GE\rT\x7F", "GE\rT\x7F"},
      {&AccessLogEntry::method, "method", "\xE2\x82", replacement},  // a sequence cut short
      {&AccessLogEntry::remote, "remote", "1.2.3.4:5\n", "1.2.3.4:5\n"},
      {&AccessLogEntry::transaction, "transaction", "\nFORGED\"", "\nFORGED\""},
      {&AccessLogEntry::transaction, "transaction", "ab\xC0\xAF", "ab" + replacement + replacement},
  };
  for (const auto& c : cases) {
    AccessLogEntry entry = SampleEntry();
    entry.*c.field = c.value;
    std::string line;
    ASSERT_NO_THROW(line = FormatAccessLogLine(entry, AccessLogFormat::Json)) << c.key;
    const json parsed = ParseLine(line);
    EXPECT_EQ(parsed.value(c.key, std::string("<missing>")), c.readBack) << line;
    EXPECT_EQ(parsed.size(), 8u) << "a field forged another: " << line;
  }
}

TEST(AccessLogJsonTest, PasswordsAreMaskedAndLongFieldsCut) {
  AccessLogEntry entry = SampleEntry();
  entry.target = "(refused) ConnectString={DSN=x;PWD=s3cret};UserID=1";
  const std::string line = FormatAccessLogLine(entry, AccessLogFormat::Json);
  EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
  EXPECT_EQ(ParseLine(line).at("target"), "(refused) ConnectString={DSN=x;PWD=***};UserID=1");

  // A cut never splits a character: 300 two-byte characters keep whole ones and the mark.
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";
  entry.target = "/" + accented;
  const std::string target = ParseLine(FormatAccessLogLine(entry, AccessLogFormat::Json)).at("target");
  EXPECT_TRUE(target.ends_with("\xC3\xA9...")) << target;
  EXPECT_LE(target.size(), 203u);
  EXPECT_EQ(target.find("\xEF\xBF\xBD"), std::string::npos) << "a character was split";
}

}  // namespace
}  // namespace morvane::host
