// Late binding: calls a dispatch object by member name, as automation clients do. Arguments are
// bound to the member's parameters (positional or by name), omitted optional parameters get their
// defaults, and each value is converted to its parameter's declared type with ChangeType. Values
// of by-reference parameters are written back to the caller's arguments after the call.
//
// A failure to bind raises DispatchError (an Error with a kind): the caller of a command line or
// a network host tells such usage errors apart from errors raised by the call itself.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation/dispatch.h"
#include "platform/automation/error.h"

namespace morvane::automation {

class DispatchError : public Error {
 public:
  enum class Kind {
    UnknownClass,          // 429
    UnknownMember,         // 438
    WrongArgumentCount,    // 450
    ArgumentNotOptional,   // 449
    ArgumentTypeMismatch,  // 13
  };
  DispatchError(Kind kind, std::string description);
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct NamedArgument {
  std::string name;
  Variant value;
};

// Finds the member: for InvokeKind::Method a method, else a property get of that name.
// Raises DispatchError UnknownMember.
const MemberInfo& FindMember(const Dispatch& obj, std::string_view name, InvokeKind kind);

// Binds positional arguments to `member` (see the header comment). Raises DispatchError.
std::vector<Variant> BindArguments(const MemberInfo& member, std::vector<Variant> args);
// Binds named arguments (names compared without regard to case). Raises DispatchError.
std::vector<Variant> BindNamedArguments(const MemberInfo& member, std::vector<NamedArgument> args);

// Calls obj.name(args...) by late binding; by-reference arguments are written back into args.
// Raises DispatchError for binding failures and whatever the member raises.
Variant CallByName(Dispatch& obj, std::string_view name, InvokeKind kind, std::vector<Variant>& args);

// Convenience for the common forms: a method or property get, and a property put.
template <class... A>
Variant Call(Dispatch& obj, std::string_view name, A&&... args) {
  std::vector<Variant> a{Variant(std::forward<A>(args))...};
  return CallByName(obj, name, InvokeKind::Method, a);
}
template <class... A>
void PutProperty(Dispatch& obj, std::string_view name, A&&... argsThenValue) {
  std::vector<Variant> a{Variant(std::forward<A>(argsThenValue))...};
  CallByName(obj, name, InvokeKind::PropertyPut, a);
}

}  // namespace morvane::automation
