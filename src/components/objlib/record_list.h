// RecordList: the suite's 1-based list of records. UBound is the element count (0 when empty);
// Item(i) for i from 1 to UBound gives the element; Add appends. An index outside 1..UBound
// raises 9 "Subscript out of range".
//
// Dispatch members (ProgID "ObjLib.RecordList"): Item (default member, DISPID 0), UBound (1),
// Add(Element) (2), Count (3). One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/automation/dispatch_table.h"

namespace morvane::objlib {

using automation::Variant;

class RecordList : public automation::DispatchObject<RecordList> {
 public:
  static const automation::DispatchTable<RecordList>& Table();
  static constexpr std::string_view kProgId = "ObjLib.RecordList";

  static std::shared_ptr<RecordList> New() { return std::make_shared<RecordList>(); }

  std::int32_t UBound() const { return static_cast<std::int32_t>(items_.size()); }
  // The element at a 1-based index; raises 9 outside 1..UBound.
  const Variant& Item(std::int32_t index) const;
  Variant& Item(std::int32_t index);
  // Appends and returns the new upper bound.
  std::int32_t Add(Variant element);
  void Reserve(std::size_t n) { items_.reserve(n); }

 private:
  std::vector<Variant> items_;
};

}  // namespace morvane::objlib
