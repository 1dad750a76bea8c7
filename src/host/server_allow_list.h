// The databases the network host may open: a list of connection strings, and the check that
// refuses a call whose connection description (sDsn) names any other before the call runs.
//
//   ConnectStringAllowList allow({"Provider=SQLite;Data Source=/srv/a.db"});
//   allow.Allows("provider = SQLite ; data source=/srv/a.db");   // true
//   LateCallOptions options{.validate = allow.Validator()};
//
// Connection strings compare by their entries (db::NormaliseConnectionString): keys without regard to
// letter case, blanks around keys and values dropped, quotes and braces around values removed,
// the order of the entries ignored; values compare exactly. A string that names one key twice is
// never allowed: drivers disagree on which occurrence counts. Immutable once made: any thread may
// use it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "call/late_call.h"
#include "platform/db/connection_string.h"

namespace morvane::host {

class ConnectStringAllowList {
 public:
  // Raises HostConfigError (server_config.h) for an entry that cannot be parsed or names a key
  // twice, naming the entry by position (the text may hold a password).
  explicit ConnectStringAllowList(const std::vector<std::string>& connectStrings);

  // True when the text is, entry for entry, one of the list's connection strings.
  bool Allows(std::string_view connectString) const;

  // The check for LateCallOptions::validate: every text argument of a parameter named sDsn, and
  // every other text argument that reads as a connection description with a ConnectString entry,
  // must name an allowed connection string. Returns the refusal, whose text masks passwords.
  // A description that cannot be parsed is let through: the called method parses it first and
  // fails the same way, before it opens anything. The validator refers to this list, which must
  // outlive it.
  call::CallValidator Validator() const;

  bool empty() const { return allowed_.empty(); }

 private:
  std::vector<db::NormalisedConnectionString> allowed_;
};

}  // namespace morvane::host
