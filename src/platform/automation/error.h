// Error: the one exception type for the system's numbered errors. It carries the four fields of
// the automation error information (Number, Source, Description, HelpFile) exactly as the raising
// site filled them. Raise() applies the raising convention: a field that is not given takes the
// platform's default (Source "Morvane"; Description the standard text of the number, or
// "Application-defined or object-defined error").
//
//   Raise(10004, codeText, "10036", caption + " = '" + value + "'");
//   Raise(5);  // "Invalid procedure call or argument"
//
// Crossing the public boundary an error reports ResultCode(): a number from 1 to 65535 becomes
// 0x800A0000 + number; a number that already is a failure result code passes unchanged.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "platform/automation/error_numbers.h"

namespace morvane::automation {

inline constexpr std::string_view kDefaultSource = "Morvane";

class Error : public std::exception {
 public:
  Error(std::int32_t number, std::string source, std::string description, std::string helpFile = {});

  std::int32_t Number() const { return number_; }
  const std::string& Source() const { return source_; }
  const std::string& Description() const { return description_; }
  const std::string& HelpFile() const { return helpFile_; }
  // The result code a caller across the public boundary sees (see the header comment).
  std::int32_t ResultCode() const;

  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
  std::string helpFile_;
};

// The standard text of a run-time error number, or the application-defined text for others.
std::string_view StandardErrorText(std::int32_t number);

// The result code for an error number: 0x800A0000 + n for 1..65535, n itself otherwise.
std::int32_t ResultCodeOf(std::int32_t number);

// Raises Error with the raising convention: omitted fields take the platform's defaults.
[[noreturn]] void Raise(std::int32_t number, std::optional<std::string> source = std::nullopt,
                        std::optional<std::string> description = std::nullopt,
                        std::optional<std::string> helpFile = std::nullopt);

}  // namespace morvane::automation
