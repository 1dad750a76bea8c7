#include "components/objlib/record_list.h"

#include <utility>

#include "platform/automation/error.h"

namespace morvane::objlib {

using automation::DispatchTable;
using automation::TypeInfo;

namespace {

TypeInfo ListTypeInfo() {
  TypeInfo info;
  info.className = "RecordList";
  info.progId = std::string(RecordList::kProgId);
  info.clsid = "{3742E16E-81DB-4139-91AA-987486006E8A}";
  info.interfaceName = "_RecordList";
  info.iid = "{BACA6DA9-3AE8-40D5-86FC-8E6DFC054AFA}";
  info.typeLibrary = "ObjLib";
  return info;
}

std::size_t Position(std::int32_t index, std::size_t size) {
  if (index < 1 || static_cast<std::size_t>(index) > size) automation::Raise(automation::errors::kSubscriptOutOfRange);
  return static_cast<std::size_t>(index) - 1;
}

}  // namespace

const Variant& RecordList::Item(std::int32_t index) const { return items_[Position(index, items_.size())]; }

Variant& RecordList::Item(std::int32_t index) { return items_[Position(index, items_.size())]; }

std::int32_t RecordList::Add(Variant element) {
  items_.push_back(std::move(element));
  return UBound();
}

const DispatchTable<RecordList>& RecordList::Table() {
  using automation::VT_I4;
  using automation::VT_VARIANT;
  static const DispatchTable<RecordList> table =
      DispatchTable<RecordList>(ListTypeInfo())
          .Get("Item", 0, {{"Index", VT_I4}}, VT_VARIANT,
               [](RecordList& self, std::span<Variant> a) { return self.Item(a[0].i4()); })
          .Get("UBound", 1, {}, VT_I4, [](RecordList& self, std::span<Variant>) { return Variant(self.UBound()); })
          .Method("Add", 2, {{"Element", VT_VARIANT}}, VT_I4,
                  [](RecordList& self, std::span<Variant> a) { return Variant(self.Add(std::move(a[0]))); })
          .Get("Count", 3, {}, VT_I4, [](RecordList& self, std::span<Variant>) { return Variant(self.UBound()); });
  return table;
}

}  // namespace morvane::objlib
