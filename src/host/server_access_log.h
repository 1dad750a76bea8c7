// The access log of the network host: one line per request, and the masking that keeps
// passwords of connection strings out of every line the host writes.
//
//   2026-12-09T23:50:00.123Z 127.0.0.1:51234 POST /v1/Morvane.VchTempSetUpdate/Append 422 3.2ms error=10007 tx=3f2a91c0
//
// Bodies are never logged. Every text field of a line may come from a client (the path, the
// method, a transaction id) and passes through LogSafe when the line is made. The functions keep
// no state and may run on any thread.
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

// The line for one request, without the line end.
std::string FormatAccessLogLine(const AccessLogEntry& entry);

}  // namespace morvane::host
