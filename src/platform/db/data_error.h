// The data-access objects' own errors: each number of ErrorValueEnum (ado_constants.h) with its
// standard text, raised with Source kDataAccessSource and, where the raising site knows more,
// the particulars after the text:
//
//   RaiseDataError(adErrItemNotFound, "field 'FName'");
//   // 3265 "Item cannot be found in the collection corresponding to the requested name or
//   //       ordinal. (field 'FName')"
//
// Errors of a provider (the database's own) are raised by the provider, not here. Stateless.
#pragma once

#include <string_view>

namespace morvane::db {

inline constexpr std::string_view kDataAccessSource = "Morvane.Data";

// The standard text of a data-access error number; an empty text for any other number.
std::string_view DataErrorText(int number);

// Raises automation::Error(number, kDataAccessSource, the standard text, followed by
// " (" + detail + ")" when detail is not empty).
[[noreturn]] void RaiseDataError(int number, std::string_view detail = {});

}  // namespace morvane::db
