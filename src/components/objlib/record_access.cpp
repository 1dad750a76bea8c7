#include "components/objlib/record_access.h"

#include <string>
#include <utility>
#include <vector>

#include "components/objlib/text_meter.h"
#include "platform/automation/convert.h"
#include "platform/automation/late_binding.h"
#include "platform/automation/registry.h"

namespace morvane::objlib {

using automation::DispatchPtr;
using automation::InvokeKind;

namespace {

DispatchPtr ObjectOf(const Variant& v) {
  if (v.IsObject()) {
    if (!v.object()) automation::Raise(automation::errors::kObjectNotSet);
    return v.object();
  }
  if (v.IsEmpty()) automation::Raise(automation::errors::kObjectNotSet);
  automation::Raise(automation::errors::kTypeMismatch);
}

DispatchPtr Required(DispatchPtr obj) {
  if (!obj) automation::Raise(automation::errors::kObjectNotSet);
  return obj;
}

// A get-style call by name: InvokeKind::Method also finds a property get of that name, so a
// client's object may implement the member either way.
Variant CallGet(automation::Dispatch& obj, std::string_view name, std::vector<Variant> args) {
  return automation::CallByName(obj, name, InvokeKind::Method, args);
}

}  // namespace

RecordRef::RecordRef(DispatchPtr obj)
    : obj_(Required(std::move(obj))), native_(dynamic_cast<KeyedRecord*>(obj_.get())) {}

RecordRef RecordRef::From(const Variant& v) { return RecordRef(ObjectOf(v)); }

std::int32_t RecordRef::Count() const {
  if (native_) return native_->Count();
  return automation::ToLong(CallGet(*obj_, "Count", {}));
}

Variant RecordRef::Value(std::string_view key) const {
  if (native_) return native_->Value(key);
  return CallGet(*obj_, "Value", {Variant(key)});
}

void RecordRef::SetValue(std::string_view key, const Variant& value) {
  if (native_) return native_->SetValue(key, value);
  std::vector<Variant> args{Variant(key), value};
  automation::CallByName(*obj_, "Value", InvokeKind::PropertyPut, args);
}

bool RecordRef::Lookup(std::string_view key, Variant* out) const {
  if (native_) return native_->Lookup(key, out);
  // The value travels back through the by-reference second argument; a bare presence test passes
  // the key alone, as callers of the original object do.
  std::vector<Variant> args{Variant(key)};
  if (out) args.emplace_back();
  bool found = automation::ToBool(automation::CallByName(*obj_, "Lookup", InvokeKind::Method, args));
  if (found && out) *out = std::move(args[1]);
  return found;
}

DispatchPtr RecordRef::Clone() const {
  if (native_) return native_->Clone();
  Variant copy = CallGet(*obj_, "Clone", {});
  if (!copy.IsObject()) automation::Raise(automation::errors::kTypeMismatch);
  return copy.object();
}

ListRef::ListRef(DispatchPtr obj)
    : obj_(Required(std::move(obj))), native_(dynamic_cast<RecordList*>(obj_.get())) {}

ListRef ListRef::From(const Variant& v) { return ListRef(ObjectOf(v)); }

std::int32_t ListRef::UBound() const {
  if (native_) return native_->UBound();
  return automation::ToLong(CallGet(*obj_, "UBound", {}));
}

Variant ListRef::Item(std::int32_t index) const {
  if (native_) return native_->Item(index);
  return CallGet(*obj_, "Item", {Variant(index)});
}

void ListRef::Add(const Variant& element) {
  if (native_) {
    native_->Add(element);
    return;
  }
  CallGet(*obj_, "Add", {element});
}

void RegisterObjLibClasses() {
  auto& registry = automation::Registry::Instance();
  registry.Register(KeyedRecord::Table().info(), [] { return DispatchPtr(KeyedRecord::New()); });
  registry.Register(RecordList::Table().info(), [] { return DispatchPtr(RecordList::New()); });
  registry.Register(TextMeter::Table().info(), [] { return DispatchPtr(std::make_shared<TextMeter>()); });
}

}  // namespace morvane::objlib
