// What a call raised: the automation error with its number, source, description and help file.
//
//   EXPECT_EQ(ErrorOf([&] { cn->Open(""); }).Number(), 3706);   // a test failure when none
//   if (auto e = Raised([&] { Call(); })) ...                     // nothing when none
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/automation/error.h"

namespace morvane::testing {

// The error that f raises, or nothing when it returns.
template <class F>
std::optional<automation::Error> Raised(F&& f) {
  try {
    f();
  } catch (const automation::Error& e) {
    return e;
  }
  return std::nullopt;
}

// The error that f raises; a test failure (and an error with number 0 and empty texts) when it
// raises none.
template <class F>
automation::Error ErrorOf(F&& f) {
  if (std::optional<automation::Error> e = Raised(f)) return *e;
  ADD_FAILURE() << "no error was raised";
  return automation::Error(0, "", "");
}

// The number of the error that f raises, 0 when it returns.
template <class F>
std::int32_t NumberRaised(F&& f) {
  const std::optional<automation::Error> e = Raised(f);
  return e ? e->Number() : 0;
}

// The fields of an error on one line, for failure messages.
inline std::string Describe(const automation::Error& e) {
  return std::to_string(e.Number()) + " (" + e.Source() + "): " + e.Description() +
         (e.HelpFile().empty() ? "" : " [" + e.HelpFile() + "]");
}

}  // namespace morvane::testing
