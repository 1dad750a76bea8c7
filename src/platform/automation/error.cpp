#include "platform/automation/error.h"

namespace morvane::automation {

Error::Error(std::int32_t number, std::string source, std::string description, std::string helpFile)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      helpFile_(std::move(helpFile)) {}

std::int32_t Error::ResultCode() const { return ResultCodeOf(number_); }

std::int32_t ResultCodeOf(std::int32_t number) {
  if (number >= 1 && number <= 65535) return static_cast<std::int32_t>(0x800A0000u + static_cast<std::uint32_t>(number));
  return number;
}

std::string_view StandardErrorText(std::int32_t number) {
  switch (number) {
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 11: return "Division by zero";
    case 13: return "Type mismatch";
    case 91: return "Object variable or With block variable not set";
    case 94: return "Invalid use of Null";
    case 429: return "ActiveX component can't create object";
    case 438: return "Object doesn't support this property or method";
    case 449: return "Argument not optional";
    case 450: return "Wrong number of arguments or invalid property assignment";
    case 457: return "This key is already associated with an element of this collection";
    default: return "Application-defined or object-defined error";
  }
}

void Raise(std::int32_t number, std::optional<std::string> source, std::optional<std::string> description,
           std::optional<std::string> helpFile) {
  throw Error(number, source ? std::move(*source) : std::string(kDefaultSource),
              description ? std::move(*description) : std::string(StandardErrorText(number)),
              helpFile ? std::move(*helpFile) : std::string());
}

}  // namespace morvane::automation
