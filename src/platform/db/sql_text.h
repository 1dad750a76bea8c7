// Reading statement texts without a database: splitting a script into its statements. String
// literals ('...', doubled quotes inside), quoted names ("...", `...`, [...]) and comments
// (-- to the end of the line, /* ... */) are skipped, so a ";" inside them splits nothing.
// Pure functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvane::db {

// The statements of a script: its text split at each ";" outside string literals, quoted names
// and comments, with the comments left out (a block comment inside a statement becomes one
// blank) and the blanks around each statement trimmed; blank and comment-only pieces are left out.
std::vector<std::string> SplitStatements(std::string_view script);

}  // namespace morvane::db
