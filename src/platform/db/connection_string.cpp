#include "platform/db/connection_string.h"

#include <algorithm>
#include <string>

#include "platform/automation/error.h"
#include "platform/automation/text.h"
#include "platform/automation/type_info.h"
#include "platform/db/ado_constants.h"
#include "platform/db/data_error.h"

namespace morvane::db {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void RaiseMalformed(std::string_view problem) {
  RaiseDataError(adErrInvalidArgument, "invalid connection string: " + std::string(problem));
}

// Reads a value enclosed by `open` ... `close` starting at text[i] == open; a doubled `close`
// stands for one. Leaves i after the closing character.
std::string ReadEnclosed(std::string_view text, std::size_t& i, char close, const std::string& key) {
  std::string value;
  ++i;
  for (;;) {
    if (i >= text.size()) RaiseMalformed("the value of '" + key + "' has no closing " + std::string(1, close));
    char c = text[i++];
    if (c != close) {
      value += c;
    } else if (i < text.size() && text[i] == close) {
      value += close;
      ++i;
    } else {
      return value;
    }
  }
}

}  // namespace

ConnectionString ConnectionString::Parse(std::string_view text) {
  ConnectionString result;
  std::size_t i = 0;
  int position = 0;
  while (i < text.size()) {
    std::size_t end = text.find_first_of("=;", i);
    if (end == std::string_view::npos || text[end] == ';') {
      std::string_view segment = Trimmed(text.substr(i, end == std::string_view::npos ? end : end - i));
      if (!segment.empty()) RaiseMalformed("entry " + std::to_string(position + 1) + " has no '='");
      i = end == std::string_view::npos ? text.size() : end + 1;
      continue;
    }
    ++position;
    std::string key(Trimmed(text.substr(i, end - i)));
    if (key.empty()) RaiseMalformed("entry " + std::to_string(position) + " has an empty key");
    i = end + 1;
    while (i < text.size() && IsBlank(text[i])) ++i;

    std::string value;
    char first = i < text.size() ? text[i] : '\0';
    if (first == '"' || first == '\'' || first == '{') {
      value = ReadEnclosed(text, i, first == '{' ? '}' : first, key);
      while (i < text.size() && IsBlank(text[i])) ++i;
      if (i < text.size() && text[i] != ';')
        RaiseMalformed("the value of '" + key + "' has text after its closing " +
                       std::string(1, first == '{' ? '}' : first));
    } else {
      std::size_t stop = text.find(';', i);
      value = std::string(Trimmed(text.substr(i, stop == std::string_view::npos ? stop : stop - i)));
      i = stop == std::string_view::npos ? text.size() : stop;
    }
    if (i < text.size()) ++i;  // the ';'
    result.entries_.emplace_back(std::move(key), std::move(value));
  }
  return result;
}

const std::string* ConnectionString::Find(std::string_view key) const {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    if (automation::EqualsIgnoreCase(it->first, key)) return &it->second;
  return nullptr;
}

std::optional<NormalisedConnectionString> NormaliseConnectionString(std::string_view text) {
  NormalisedConnectionString entries;
  try {
    const ConnectionString parsed = ConnectionString::Parse(text);
    for (const auto& [key, value] : parsed.entries()) entries.emplace_back(automation::AsciiLower(key), value);
  } catch (const automation::Error&) {
    return std::nullopt;
  }
  std::sort(entries.begin(), entries.end());
  const bool repeated = std::adjacent_find(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
                          return a.first == b.first;
                        }) != entries.end();
  if (repeated || entries.empty()) return std::nullopt;
  return entries;
}

}  // namespace morvane::db
