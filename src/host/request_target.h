// The path of a request target: what the routes match.
#pragma once

#include <string>
#include <string_view>

namespace morvane::host {

// The target's path without its query, percent-decoded ("/v1/a%20b?x=1" -> "/v1/a b"). A '%'
// not followed by two hexadecimal digits stays as it is.
std::string RequestPath(std::string_view target);

}  // namespace morvane::host
