// The grammar of a connection description (the sDsn that every call of the component takes), a
// list of name=value entries:
//
//   DescriptionEntries entries;
//   ParseConnectionDescription("ConnectString={Provider=SQLite;Data Source=a.db};UserID=1", entries);
//   DescriptionEntry(entries, "connectstring");  // "Provider=SQLite;Data Source=a.db"
//
// Entries "name=value" are ended by ";" (the last ";" may be missing). A name is the text up to
// the next "=", spaces trimmed; parsing ends at the first empty name. A value is plain (up to the
// next ";") or braced ("{...}", may hold ";" and "=", up to the first "}"; the rest up to and
// including the next ";" is skipped); spaces around it are trimmed. Only spaces are trimmed, and
// only the ASCII delimiters count: the full-width forms ("＝", "；", "｝") are ordinary characters.
// Names compare without regard to ASCII letter case and occur once. Pure functions.
//
// Unlike a connection string (connection_string.h), a description knows no quotes, and a name
// given twice is an error rather than the last one winning.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morvane::db {

using DescriptionEntries = std::vector<std::pair<std::string, std::string>>;

// Replaces `entries` with the entries of `text`, in the order written. Raises automation::Error
// 457 when a name occurs twice; the entries before the duplicate are then left in `entries`.
void ParseConnectionDescription(std::string_view text, DescriptionEntries& entries);

// The value of the entry `name` (letter case ignored), or nullptr when there is none.
const std::string* FindDescriptionEntry(const DescriptionEntries& entries, std::string_view name);

// The value of the entry `name` (letter case ignored); raises automation::Error 5 when absent.
const std::string& DescriptionEntry(const DescriptionEntries& entries, std::string_view name);

}  // namespace morvane::db
