#include "host/server_access_log.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include <nlohmann/json.hpp>

#include "platform/automation/text.h"

namespace morvane::host {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Where a key may begin: the start of the text, or after an entry separator, a brace or a blank.
bool AtKeyStart(std::string_view text, std::size_t i) {
  if (i == 0) return true;
  const char before = text[i - 1];
  return before == ';' || before == '{' || IsBlank(before);
}

// The length of "pwd" or "password" at text[i] (letter case ignored), 0 when neither.
std::size_t PasswordKeyAt(std::string_view text, std::size_t i) {
  for (std::string_view key : {std::string_view("password"), std::string_view("pwd")}) {
    if (text.size() - i < key.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < key.size() && same; ++k) same = automation::AsciiLowerChar(text[i + k]) == key[k];
    if (same) return key.size();
  }
  return 0;
}

// The end of the value that begins at text[i]: a braced value up to its "}" ("}}" stands for one),
// a quoted one up to its closing quote (doubled quotes stand for one), a plain one up to ";" or
// "}" (the end of an enclosing braced entry).
std::size_t ValueEnd(std::string_view text, std::size_t i) {
  if (i >= text.size()) return i;
  const char open = text[i];
  if (open == '{' || open == '"' || open == '\'') {
    const char close = open == '{' ? '}' : open;
    std::size_t j = i + 1;
    while (j < text.size()) {
      if (text[j] == close) {
        if (j + 1 < text.size() && text[j + 1] == close) {
          j += 2;
          continue;
        }
        return j + 1;
      }
      ++j;
    }
    return j;
  }
  std::size_t j = i;
  while (j < text.size() && text[j] != ';' && text[j] != '}') ++j;
  // Blanks before the separator are not part of the value.
  while (j > i && IsBlank(text[j - 1])) --j;
  return j;
}

}  // namespace

std::string MaskPasswords(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (AtKeyStart(text, i)) {
      if (const std::size_t keyLength = PasswordKeyAt(text, i)) {
        std::size_t j = i + keyLength;
        while (j < text.size() && IsBlank(text[j])) ++j;
        if (j < text.size() && text[j] == '=') {
          ++j;
          while (j < text.size() && IsBlank(text[j])) ++j;
          out.append(text.substr(i, j - i));
          out += "***";
          i = ValueEnd(text, j);
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

std::string LogSafe(std::string_view text, std::size_t max) {
  const std::string masked = MaskPasswords(text);
  std::string out;
  for (unsigned char c : masked) {
    if (out.size() >= max) {
      out += "...";
      break;
    }
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
  return text;
}

namespace {

std::string TextLine(const AccessLogEntry& entry) {
  // Every text field may hold a client's bytes: each passes through LogSafe here, so that no
  // control character, CR or LF of a request reaches the line.
  auto field = [](const std::string& text, std::size_t max) { return text.empty() ? std::string("-") : LogSafe(text, max); };
  char duration[32];
  std::snprintf(duration, sizeof duration, "%.1fms", entry.durationMs);
  std::string line = IsoTime(entry.time);
  line += ' ';
  line += field(entry.remote, 64);
  line += ' ';
  line += field(entry.method, 16);
  line += ' ';
  line += field(entry.target, 200);
  line += ' ';
  line += std::to_string(entry.status);
  line += ' ';
  line += duration;
  if (entry.errorNumber != 0) line += " error=" + std::to_string(entry.errorNumber);
  if (!entry.transaction.empty()) line += " tx=" + LogSafe(entry.transaction, 16);
  return line;
}

// A client's text for a JSON field: passwords masked, cut to `max` bytes (marked with "...")
// without splitting a UTF-8 sequence. The encoder does the escaping.
std::string JsonText(const std::string& text, std::size_t max) {
  std::string masked = MaskPasswords(text);
  if (masked.size() <= max) return masked;
  std::size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(masked[cut]) & 0xC0) == 0x80) --cut;
  masked.resize(cut);
  return masked + "...";
}

std::string JsonLine(const AccessLogEntry& entry) {
  nlohmann::ordered_json line;
  line["time"] = IsoTime(entry.time);
  line["remote"] = JsonText(entry.remote, 64);
  line["method"] = JsonText(entry.method, 16);
  line["target"] = JsonText(entry.target, 200);
  line["status"] = entry.status;
  line["durationMs"] = std::round(entry.durationMs * 10) / 10;
  line["error"] = nullptr;
  if (entry.errorNumber != 0) line["error"] = entry.errorNumber;
  line["transaction"] = nullptr;
  if (!entry.transaction.empty()) line["transaction"] = JsonText(entry.transaction, 16);
  // ASCII only: the encoder then writes every control character (C0, DEL, C1) and every other
  // non-ASCII character as \uXXXX; bytes that are not UTF-8 become U+FFFD instead of an exception.
  return line.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string FormatAccessLogLine(const AccessLogEntry& entry, AccessLogFormat format) {
  return format == AccessLogFormat::Json ? JsonLine(entry) : TextLine(entry);
}

}  // namespace morvane::host
