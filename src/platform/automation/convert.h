// The value conversions of the automation platform (VariantChangeType with flags 0 and the
// US-English locale), in one place. Every conversion of the system goes through these functions.
//
// Failures raise Error: 13 "Type mismatch" when the value cannot be coerced, 6 "Overflow" when it
// does not fit the target. Texts are read whole: a text that is not entirely a number (after
// blanks are trimmed) is a type mismatch. No function reads or writes outside its input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation/variant.h"

namespace morvane::automation {

// Converts v in place to `target` (one of VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY,
// VT_DATE, VT_BSTR, VT_BOOL, VT_UI1, VT_BYTES, VT_VARIANT (no change), VT_DISPATCH (objects
// only)). A value already of that type is left as it is.
void ChangeType(Variant& v, VarType target);

// Returns a converted copy.
Variant Converted(const Variant& v, VarType target);

// Shorthands for the conversions the code makes most (CStr, CLng, CInt, CBool, CDbl).
std::string ToText(const Variant& v);
std::int32_t ToLong(const Variant& v);
std::int16_t ToInteger(const Variant& v);
bool ToBool(const Variant& v);
double ToDouble(const Variant& v);

// Compares two values as the language's comparison operators do: numbers (and Booleans, dates,
// currency) numerically, texts by binary comparison, a number with a text by converting the text
// to a number (type mismatch when it is not one). Returns <0, 0 or >0. Null compares as a type
// mismatch (raises 94 "Invalid use of Null"). Empty is 0 against numbers and "" against texts.
int CompareValues(const Variant& a, const Variant& b);

// Date helpers (days since 1899-12-30, time of day as fraction; before day 0 the fraction counts
// forwards from the day's start). Valid years 100 to 9999.
struct DateParts {
  int year, month, day, hour, minute, second;
};
// SplitDate raises 6 for a value outside the DATE range; MakeDate raises 5 for parts that name no
// moment (month 13, 30 February, hour 24) and 6 for a year outside 100 to 9999.
DateParts SplitDate(Date d);
Date MakeDate(const DateParts& p);
// True when a day number lies in the DATE range (1 January 100 to 31 December 9999, any time).
bool IsDateInRange(double days);

// Currency as exact decimal text: up to 4 decimals, trailing zeros dropped ("1.5", "12",
// "-0.0001"), the text that converting CY to a String gives.
std::string FormatCurrency(Currency c);

}  // namespace morvane::automation
