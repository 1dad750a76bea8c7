// Fuzzes the connection description parser with arbitrary text.
//
// ParseString may only raise 457 (a name given twice) and always keeps the text unchanged in
// PropsString. The entries it keeps have names that are not empty, hold no "=", have no spaces
// around them and are distinct in ASCII letter case; values have no spaces around them. Every
// entry is found again by its name in any ASCII letter case. The named readers may only raise
// 5 (absent) and, for UserID, 13 (not a number) or 6 (a number outside the 32-bit range).
// Finally the entries, written out again as "name={value};" (or "name=value;" when the value
// holds a "}"), parse back to the same entries: the grammar can express whatever it reads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "datasource/c_parse.h"
#include "platform/automation/error.h"
#include "platform/automation/text.h"

namespace {

using morvane::datasource::CParse;
namespace automation = morvane::automation;
namespace errors = automation::errors;
using Entries = std::vector<std::pair<std::string, std::string>>;

std::string_view g_input;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_parse_string: %s; input [%.*s]\n", what.c_str(),
               static_cast<int>(g_input.size()), g_input.data());
  std::abort();
}

// Parses text; returns false when 457 was raised. Any other error is a fault.
bool Parse(CParse& p, std::string_view text) {
  try {
    if (!p.ParseString(text)) Fail("ParseString returned false");
  } catch (const automation::Error& e) {
    if (e.Number() != errors::kDuplicateKey) Fail("ParseString raised " + std::to_string(e.Number()));
    return false;
  }
  return true;
}

void CheckEntries(const CParse& p) {
  std::unordered_set<std::string> seen;
  for (const auto& [name, value] : p.Entries()) {
    if (name.empty()) Fail("an entry has an empty name");
    if (name.find('=') != std::string::npos) Fail("a name holds \"=\": " + name);
    if (name.front() == ' ' || name.back() == ' ') Fail("a name keeps spaces: " + name);
    if (!value.empty() && (value.front() == ' ' || value.back() == ' '))
      Fail("a value keeps spaces: " + value);
    if (!seen.insert(morvane::automation::AsciiLower(name)).second) Fail("a name is kept twice: " + name);
    for (const std::string& spelling :
         {name, morvane::automation::AsciiLower(name), morvane::automation::AsciiUpper(name)}) {
      try {
        if (p.GetProperty(spelling) != value) Fail("GetProperty gives another value for " + spelling);
      } catch (const automation::Error& e) {
        Fail("GetProperty raised " + std::to_string(e.Number()) + " for the entry " + spelling);
      }
    }
  }
}

// Calls a reader; only the listed numbers may be raised.
void Read(const char* name, const std::function<void()>& reader, std::initializer_list<std::int32_t> allowed) {
  try {
    reader();
  } catch (const automation::Error& e) {
    for (const std::int32_t n : allowed)
      if (e.Number() == n) return;
    Fail(std::string(name) + " raised " + std::to_string(e.Number()));
  }
}

void CheckReaders(const CParse& p) {
  const std::initializer_list<std::int32_t> absent = {errors::kInvalidProcedureCall};
  Read("UserName", [&] { (void)p.UserName(); }, absent);
  Read("UserID", [&] { (void)p.UserID(); },
       {errors::kInvalidProcedureCall, errors::kTypeMismatch, errors::kOverflow});
  Read("ConDBMSName", [&] { (void)p.ConDBMSName(); }, absent);
  Read("ConDBMSVersion", [&] { (void)p.ConDBMSVersion(); }, absent);
  Read("ConStr", [&] { (void)p.ConStr(); }, absent);
  Read("LanguageID", [&] { (void)p.LanguageID(); }, absent);
  Read("IsIndustry", [&] { (void)p.IsIndustry(); }, absent);
  // A name that no entry can have: "=" always ends a name.
  Read("GetProperty", [&] {
    (void)p.GetProperty("a=b");
    Fail("GetProperty found a name holding \"=\"");
  }, absent);
}

std::string Written(const Entries& entries) {
  std::string text;
  for (const auto& [name, value] : entries) {
    text += name;
    if (value.find('}') == std::string::npos)
      text += "={" + value + "};";
    else
      text += "=" + value + ";";  // a value with "}" was read plain, so it holds no ";"
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  g_input = input;

  CParse p;
  Parse(p, input);
  if (p.PropsString() != input) Fail("PropsString differs from the text");
  CheckEntries(p);
  CheckReaders(p);

  // A second parse replaces the first.
  const Entries first = p.Entries();
  Parse(p, input);
  if (p.Entries() != first) Fail("parsing the same text again gives other entries");

  // The entries written out read back the same.
  const std::string again = Written(first);
  CParse q;
  if (!Parse(q, again)) Fail("the written entries repeat a name: " + again);
  if (q.Entries() != first) Fail("the written entries read back differently: " + again);
  return 0;
}
