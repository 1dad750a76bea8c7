// Fuzzes the JSON form of values with arbitrary text.
//
// ParseJson and FromJson may only raise JsonFormError, and ParseJson refuses numbers beyond the
// double range rather than giving infinities. A value that was read is written back
// (ToJson never fails for it, since reading already refused deeper nesting), and that text reads
// back to a value whose JSON text is the same: after one round every value is in its written
// form (a date to the second, an R4 as its shortest decimal), and the form is then stable.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "call/json_form.h"

namespace {

using morvane::call::Json;
using morvane::call::JsonFormError;

std::string_view g_input;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_json_value: %s; input [%.*s]\n", what.c_str(),
               static_cast<int>(g_input.size()), g_input.data());
  std::abort();
}

// True when every number in j is finite.
bool AllFinite(const Json& j) {
  if (j.is_number_float()) return std::isfinite(j.get<double>());
  if (j.is_structured())
    for (const Json& element : j)
      if (!AllFinite(element)) return false;
  return true;
}

// The written text of the value that `text` stands for; an empty result when the text was refused.
std::string Round(std::string_view text, bool mustRead) {
  morvane::automation::Variant value;
  try {
    const Json json = morvane::call::ParseJson(text);
    if (!AllFinite(json)) Fail("ParseJson gave a number beyond the double range");
    value = morvane::call::FromJson(json);
  } catch (const JsonFormError& e) {
    if (mustRead) Fail(std::string("the written form is refused: ") + e.what() + ": " + std::string(text));
    return {};
  } catch (const std::exception& e) {
    Fail(std::string("reading raised another exception: ") + e.what());
  }
  try {
    return morvane::call::DumpJson(morvane::call::ToJson(value));
  } catch (const std::exception& e) {
    Fail(std::string("writing a value that was read failed: ") + e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  g_input = input;
  const std::string first = Round(input, false);
  if (first.empty()) return 0;
  const std::string second = Round(first, true);
  if (second != first) Fail("the written form changes when read back: " + first + " -> " + second);
  return 0;
}
