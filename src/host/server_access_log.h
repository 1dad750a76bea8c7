// The access log of the network host: one line per request, as text or as a JSON object, and the
// masking that keeps passwords of connection strings out of every line the host writes.
//
//   2026-12-09T23:50:00.123Z 127.0.0.1:51234 POST /v1/Morvane.VchTempSetUpdate/Append 422 3.2ms error=10007 tx=3f2a91c0
//   {"time":"2026-12-09T23:50:00.123Z","remote":"127.0.0.1:51234","method":"POST","target":"/v1/...",
//    "status":422,"durationMs":3.2,"error":10007,"transaction":"3f2a91c0"}
//
// Bodies are never logged. Every text field of a line may come from a client (the path, the
// method, a transaction id): it is masked and escaped when the line is made, so no field can end
// the line or reach a terminal as a control sequence. The functions keep no state and may run on
// any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvane::host {

// The text with the value of every PWD and Password entry (letter case ignored, blanks around
// the key allowed, plain, quoted or braced values) replaced by "***":
// "Driver=x;UID=sa;PWD=secret" -> "Driver=x;UID=sa;PWD=***".
std::string MaskPasswords(std::string_view text);

// A client's text made fit for one log line: passwords masked, bytes outside printable ASCII
// written \xNN, cut to `max` bytes (marked with "...").
std::string LogSafe(std::string_view text, std::size_t max = 200);

// UTC time in ISO 8601 to the millisecond: "2026-12-09T23:50:00.123Z".
std::string IsoTime(std::chrono::system_clock::time_point time);

struct AccessLogEntry {
  std::chrono::system_clock::time_point time;  // when the request began
  std::string remote;                          // "127.0.0.1:51234"
  std::string method;                          // "-" when no request line was read
  std::string target;                          // the path, or a note in parentheses
  int status = 0;
  double durationMs = 0;
  std::int32_t errorNumber = 0;  // the number of the error answered; 0 for none
  std::string transaction;       // the first characters of the transaction id, or empty
};

enum class AccessLogFormat {
  Text,  // fields separated by blanks, client bytes outside printable ASCII written \xNN
  Json,  // one JSON object, printable ASCII only (other characters as \uXXXX)
};

// The line for one request, without the line end. In the JSON form "error" and "transaction"
// are null when the request had none, and bytes of a field that are not UTF-8 become U+FFFD.
// Never raises for the content of a field.
std::string FormatAccessLogLine(const AccessLogEntry& entry, AccessLogFormat format = AccessLogFormat::Text);

}  // namespace morvane::host
