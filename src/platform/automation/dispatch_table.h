// DispatchTable: the type information and member handlers of one dispatch class, built once and
// shared by all its objects. A class derives from DispatchObject<Self> and defines
//
//   static const DispatchTable<Self>& Table();
//
// whose handlers receive the bound arguments (see Dispatch::Invoke):
//
//   static const DispatchTable<TextMeter> table = DispatchTable<TextMeter>(info)
//       .Method("Measure", 1, {{"Text", VT_BSTR}}, VT_I4,
//               [](TextMeter& self, std::span<Variant> a) { return Variant(self.Measure(a[0].text())); });
#pragma once

#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "platform/automation/dispatch.h"
#include "platform/automation/error.h"

namespace morvane::automation {

template <class T>
class DispatchTable {
 public:
  using Handler = std::function<Variant(T&, std::span<Variant>)>;

  explicit DispatchTable(TypeInfo info) : info_(std::move(info)) {}

  DispatchTable&& Method(std::string name, DispId id, std::vector<ParamInfo> params, VarType result,
                         Handler h) && {
    return Add(std::move(name), id, InvokeKind::Method, std::move(params), result, std::move(h));
  }
  DispatchTable&& Get(std::string name, DispId id, std::vector<ParamInfo> params, VarType result,
                      Handler h) && {
    return Add(std::move(name), id, InvokeKind::PropertyGet, std::move(params), result, std::move(h));
  }
  // The last parameter of a property put is the assigned value.
  DispatchTable&& Put(std::string name, DispId id, std::vector<ParamInfo> params, Handler h) && {
    return Add(std::move(name), id, InvokeKind::PropertyPut, std::move(params), VT_EMPTY, std::move(h));
  }

  const TypeInfo& info() const { return info_; }

  Variant Invoke(T& self, DispId id, InvokeKind kind, std::span<Variant> args) const {
    for (std::size_t i = 0; i < info_.members.size(); ++i) {
      const MemberInfo& m = info_.members[i];
      if (m.dispId == id && m.kind == kind) return handlers_[i](self, args);
    }
    Raise(errors::kNoSuchMember);
  }

 private:
  DispatchTable&& Add(std::string name, DispId id, InvokeKind kind, std::vector<ParamInfo> params,
                      VarType result, Handler h) {
    info_.members.push_back(MemberInfo{std::move(name), id, kind, std::move(params), result});
    handlers_.push_back(std::move(h));
    return std::move(*this);
  }

  TypeInfo info_;
  std::vector<Handler> handlers_;
};

template <class T>
class DispatchObject : public Dispatch {
 public:
  const TypeInfo& GetTypeInfo() const override { return T::Table().info(); }
  Variant Invoke(DispId id, InvokeKind kind, std::span<Variant> args) override {
    return T::Table().Invoke(static_cast<T&>(*this), id, kind, args);
  }
};

}  // namespace morvane::automation
