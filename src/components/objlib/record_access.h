// RecordRef and ListRef: how the system calls records and lists that may be the client's own
// implementations. Our own KeyedRecord and RecordList are called directly; any other dispatch
// object is called by member name (late binding), as the client contract says. Both raise 91
// "Object variable or With block variable not set" when built on no object.
#pragma once

#include <cstdint>
#include <string_view>

#include "components/objlib/keyed_record.h"
#include "components/objlib/record_list.h"

namespace morvane::objlib {

class RecordRef {
 public:
  explicit RecordRef(automation::DispatchPtr obj);
  // From a Variant holding an object; raises 91 when it holds Nothing/Empty, 13 for a non-object.
  static RecordRef From(const Variant& v);

  std::int32_t Count() const;
  Variant Value(std::string_view key) const;
  void SetValue(std::string_view key, const Variant& value);
  bool Lookup(std::string_view key, Variant* out = nullptr) const;
  automation::DispatchPtr Clone() const;

  const automation::DispatchPtr& object() const { return obj_; }
  // Our own record when the object is one, else nullptr.
  KeyedRecord* native() const { return native_; }

 private:
  automation::DispatchPtr obj_;
  KeyedRecord* native_;
};

class ListRef {
 public:
  explicit ListRef(automation::DispatchPtr obj);
  static ListRef From(const Variant& v);

  std::int32_t UBound() const;
  Variant Item(std::int32_t index) const;
  void Add(const Variant& element);

  const automation::DispatchPtr& object() const { return obj_; }
  RecordList* native() const { return native_; }

 private:
  automation::DispatchPtr obj_;
  RecordList* native_;
};

// Registers the three object classes under their ProgIDs.
void RegisterObjLibClasses();

}  // namespace morvane::objlib
