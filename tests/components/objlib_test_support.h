// Helpers shared by the tests of the record and list objects.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/automation/error.h"

namespace morvane::objlib::testing {

// The number of the automation error that `f` raised, or 0 when it returned.
inline std::int32_t RaisedNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const automation::Error& e) {
    return e.Number();
  }
  return 0;
}

}  // namespace morvane::objlib::testing
