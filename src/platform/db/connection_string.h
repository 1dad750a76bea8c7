// ConnectionString: the parsed form of a data-access connection string, "Key=Value" entries
// separated by ";":
//
//   auto cs = ConnectionString::Parse("Provider=SQLite;Data Source=\"/var/lib/a;b.db\"");
//   cs.Find("data source");  // -> "/var/lib/a;b.db"
//
// Grammar: blanks around keys and values are dropped; keys compare without regard to ASCII
// letter case; a value may be quoted with "..." or '...' (a doubled quote stands for one) or
// braced with {...} as ODBC writes driver names ("}}" stands for "}"), and may then hold ";".
// Empty entries (";;") are skipped; when a key occurs more than once, the last entry counts.
// Error texts name the entry by key or position, never by value, so a password in the string
// does not end up in a message. A parsed string is an immutable value; no shared state.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::db {

class ConnectionString {
 public:
  // Parses text. Raises automation::Error 3001 (adErrInvalidArgument) naming the problem: an
  // entry without "=", an entry with an empty key, a quote or brace left open, or text after a
  // closing quote.
  static ConnectionString Parse(std::string_view text);

  // The value of the last entry with that key (letter case ignored), or nullptr.
  const std::string* Find(std::string_view key) const;

  // Every entry, in the order written (keys as written, values without their quotes or braces).
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// The entries of a connection string as two spellings of one string compare: (key in ASCII lower
// case, value as parsed), sorted. So "Provider=SQLite;Data Source=/a.db" and
// "data source = /a.db; provider=SQLite" give the same entries; values compare exactly.
using NormalisedConnectionString = std::vector<std::pair<std::string, std::string>>;

// The normalised entries of the text; nullopt when it cannot be parsed, holds no entry, or names
// a key twice (which occurrence counts differs between drivers, so such a string equals no other).
std::optional<NormalisedConnectionString> NormaliseConnectionString(std::string_view text);

}  // namespace morvane::db
