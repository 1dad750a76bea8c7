// Secret values of the host's configuration (the token, connection strings that may hold a
// password): written into the file itself, or kept outside it and named there.
//
//   "token": "a-long-random-token"
//   "token": {"fromEnv": "MORVANE_API_TOKEN"}     the environment variable's value
//   "allow": [{"fromFile": "secrets/cost.dsn"}]   the file's contents, one trailing line end removed
//
// No message ever holds a secret's value: each names the setting and the variable or the file.
#pragma once

#include <string>
#include <string_view>

#include "call/json_form.h"
#include "host/config_reading.h"

namespace morvane::host {

// The value of the secret setting `key` ("token", "allow[2]"): the string itself; for
// {"fromEnv": NAME} the variable's value (unset or empty is an error); for {"fromFile": PATH} the
// contents of the file (PATH taken from origin.folder when relative), less one trailing "\n" or
// "\r\n" (a missing, unreadable or empty file is an error). Raises HostConfigError for any other
// form (another type, another key, more than one key).
std::string ResolveSecret(const call::Json& value, const ConfigOrigin& origin, std::string_view key);

}  // namespace morvane::host
