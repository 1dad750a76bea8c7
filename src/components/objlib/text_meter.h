// TextMeter: measures a text for the field value check. Measure counts characters (Unicode code
// points of the UTF-8 text; a malformed byte counts as one character).
// Dispatch member (ProgID "ObjLib.TextMeter"): Measure(Text) (DISPID 1).
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/automation/dispatch_table.h"

namespace morvane::objlib {

class TextMeter : public automation::DispatchObject<TextMeter> {
 public:
  static const automation::DispatchTable<TextMeter>& Table();
  static constexpr std::string_view kProgId = "ObjLib.TextMeter";

  std::int32_t Measure(std::string_view text) const;
};

}  // namespace morvane::objlib
