// The SQL texts of the four list queries. Each is joined from fixed pieces; the localised names
// are inserted as quoted literals with any single quote doubled, so that a translation holding an
// apostrophe neither breaks nor changes the statement. The categories with a second axis use
// LEFT JOIN, which every current database accepts.
#pragma once

#include <string>
#include <string_view>

namespace morvane::service {

// Doubles each single quote so that the text can stand inside '...'.
std::string QuoteLiteral(std::string_view text);

std::string BaseListSql(std::string_view typeName);
std::string AssListSql(std::string_view typeName);
std::string BLendListSql(std::string_view typeName, std::string_view assistExpenseName);
std::string ALendListSql(std::string_view typeName);

}  // namespace morvane::service
