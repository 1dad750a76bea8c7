// The JSON form of automation values, shared by `morvane call` and the network host.
//
//   Variant          JSON
//   Null             null
//   Bool             true / false
//   I2, I4, UI1      an integer            (a JSON integer in the 32-bit range reads as I4)
//   R4, R8           a number              (other JSON numbers read as R8)
//   BSTR             a string
//   KeyedRecord      an object, keys in the record's order
//   RecordList       an array
//   Empty            {"@vt": "EMPTY"}
//   CY               {"@vt": "CY", "value": "12.5"}                   decimal text
//   DATE             {"@vt": "DATE", "value": "1962-10-19T16:35:47"}  ISO 8601, to the second
//   byte array       {"@vt": "BYTES", "value": "AAEC"}                base64
//
// On input an object holding "@vt" forces a type: EMPTY, NULL, I2, I4, R4, R8, CY (decimal text
// or number), DATE ("YYYY-MM-DD", optionally "THH:MM" or "THH:MM:SS"), UI1, BYTES, BSTR, BOOL.
// Any other object becomes a KeyedRecord (two keys that differ only in letter case are refused,
// since the record would merge them); an array becomes a RecordList of its converted elements.
// On output R4 and R8 values that JSON cannot hold are written {"@vt": "R8", "value": "NaN"}
// ("Infinity", "-Infinity"), which reads back as the same value; a DATE outside the calendar is
// written as its day number ({"@vt": "DATE", "value": 1.5}), also accepted on input; an object
// that is neither record nor list is written {"@vt": "DISPATCH", "class": NAME} (class null for
// Nothing) and cannot be read back.
//
// The functions keep no state: they may run on any thread, on values (records, lists) that no
// other thread uses meanwhile. Nothing here trusts its input: text is parsed with a nesting limit
// and every failure is a JsonFormError with a one-line message that echoes no raw input bytes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/automation/error.h"
#include "platform/automation/variant.h"

namespace morvane::call {

// Ordered, so that a record's keys keep their order both ways.
using Json = nlohmann::ordered_json;

// The deepest nesting of arrays and objects read or written.
inline constexpr int kMaxJsonDepth = 64;

// A JSON text or value that has no meaning as an automation value: the caller's usage error.
class JsonFormError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses a JSON text. Raises JsonFormError for malformed text (invalid UTF-8 included), numbers
// out of the double range, and nesting deeper than kMaxJsonDepth.
Json ParseJson(std::string_view text);

// Writes one line of JSON; bytes of texts that are not UTF-8 are written as U+FFFD.
std::string DumpJson(const Json& json);

// The value a JSON value stands for (see the header comment). Raises JsonFormError.
automation::Variant FromJson(const Json& json);

// The JSON form of a value. Raises JsonFormError when records and lists nest deeper than
// kMaxJsonDepth (a list that holds itself, for one).
Json ToJson(const automation::Variant& value);

// The error object: {"number", "hresult" ("0x800A2714"), "source", "description", "helpFile"}.
Json ErrorToJson(const automation::Error& error);

// A result code as eight upper-case hexadecimal digits: "0x800A2714".
std::string ResultCodeText(std::int32_t code);

}  // namespace morvane::call
