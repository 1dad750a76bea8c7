// Fuzzes the key lookup of a name=value text with arbitrary text and keys.
//
// The input is "key" NEWLINE "text" (without a newline the key is "Language", as the list queries
// ask). GetKeyValue never raises; when it finds something, the value holds no ";", and the text,
// ASCII letter case folded, holds "key=" followed by the value; when the folded text holds no
// "key=", the value is empty.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/globals.h"
#include "platform/automation/text.h"

namespace {

std::string_view g_input;

[[noreturn]] void Fail(const char* what, std::string_view value) {
  std::fprintf(stderr, "fuzz_get_key_value: %s: [%.*s]; input [%.*s]\n", what,
               static_cast<int>(value.size()), value.data(), static_cast<int>(g_input.size()),
               g_input.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using morvane::automation::AsciiLower;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  g_input = input;
  std::string_view key = "Language", text = input;
  if (const auto newline = input.find('\n'); newline != std::string_view::npos) {
    key = input.substr(0, newline);
    text = input.substr(newline + 1);
  }

  std::string value;
  try {
    value = morvane::support::GetKeyValue(text, key);
  } catch (...) {
    Fail("GetKeyValue raised", key);
  }

  const std::string folded = AsciiLower(text), entry = AsciiLower(key) + "=";
  if (value.find(';') != std::string::npos) Fail("the value holds \";\"", value);
  if (folded.find(entry) == std::string::npos) {
    if (!value.empty()) Fail("a value was found without its key", value);
  } else if (!value.empty() && folded.find(entry + AsciiLower(value)) == std::string::npos) {
    Fail("the value does not follow its key", value);
  }
  return 0;
}
