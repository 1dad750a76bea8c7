#include "call/late_call.h"

#include <utility>
#include <vector>

#include "platform/automation/late_binding.h"
#include "platform/mts/runtime.h"

namespace morvane::call {

namespace errors = automation::errors;

using automation::DispatchError;
using automation::Variant;

namespace {

CallOutcome Outcome(CallOutcomeKind kind, std::string message) {
  return CallOutcome{kind, Json(nullptr), std::move(message)};
}

CallOutcome CallFailed(const automation::Error& e) { return CallOutcome{CallOutcomeKind::CallError, ErrorToJson(e), {}}; }

CallOutcome InternalError(std::string_view what) {
  return CallFailed(automation::Error(errors::kInternalError, std::string(automation::kDefaultSource),
                                      "Internal error: " + std::string(what)));
}

// A binding failure is the caller's mistake: an unknown class or member is not found, anything
// else (count, missing argument, type) is a bad request.
CallOutcome UsageError(const DispatchError& e) {
  CallOutcome out;
  switch (e.kind()) {
    case DispatchError::Kind::UnknownClass:
    case DispatchError::Kind::UnknownMember: out = Outcome(CallOutcomeKind::NotFound, e.Description()); break;
    default: out = Outcome(CallOutcomeKind::BadRequest, e.Description()); break;
  }
  out.number = e.Number();
  return out;
}

CallOutcome Run(std::string_view progId, std::string_view memberName, const Json& args,
                const LateCallOptions& options) {
  // Arguments first: a malformed request is refused before anything is created.
  std::vector<Variant> positional;
  std::vector<automation::NamedArgument> named;
  try {
    if (args.is_array()) {
      positional.reserve(args.size());
      for (const auto& a : args) positional.push_back(FromJson(a));
    } else if (args.is_object()) {
      for (const auto& [name, value] : args.items()) named.push_back({name, FromJson(value)});
    } else if (!args.is_null()) {
      return Outcome(CallOutcomeKind::BadRequest, "the arguments must be a JSON array or object");
    }
  } catch (const JsonFormError& e) {
    return Outcome(CallOutcomeKind::BadRequest, e.what());
  }

  // An empty name would match a class registered without a class identifier.
  if (progId.empty()) return Outcome(CallOutcomeKind::NotFound, "no ProgID was given");

  automation::DispatchPtr obj;
  const automation::MemberInfo* member = nullptr;
  std::vector<Variant> bound;
  try {
    obj = mts::CreateObject(progId);
    if (!obj) return Outcome(CallOutcomeKind::NotFound, "no object of the class \"" + std::string(progId) + "\" could be made");
    member = &automation::FindMember(*obj, memberName, automation::InvokeKind::Method);
    bound = args.is_object() ? automation::BindNamedArguments(*member, std::move(named))
                             : automation::BindArguments(*member, std::move(positional));
  } catch (const DispatchError& e) {
    return UsageError(e);
  }
  // Other errors while creating or binding (a class whose construction raises) are the call's.

  if (options.validate) {
    if (auto refusal = options.validate(obj->GetTypeInfo(), *member, bound))
      return Outcome(CallOutcomeKind::Refused, std::move(*refusal));
  }

  // Whatever the member raises, a DispatchError of its own inner calls included, is the call's
  // error: the request itself was well formed.
  Variant result = obj->Invoke(member->dispId, member->kind, bound);
  if (member->result == automation::VT_EMPTY) return CallOutcome{CallOutcomeKind::Ok, Json(nullptr), {}};
  try {
    return CallOutcome{CallOutcomeKind::Ok, ToJson(result), {}};
  } catch (const JsonFormError& e) {
    return InternalError(std::string("the result cannot be written as JSON: ") + e.what());
  }
}

}  // namespace

CallOutcome LateCall(std::string_view progId, std::string_view member, const Json& args,
                     const LateCallOptions& options) {
  try {
    return Run(progId, member, args, options);
  } catch (const automation::Error& e) {
    return CallFailed(e);
  } catch (const std::exception& e) {
    return InternalError(e.what());
  } catch (...) {
    return InternalError("an unknown exception");
  }
}

CallOutcome LateCallText(std::string_view progId, std::string_view member, std::string_view argsText,
                         const LateCallOptions& options) {
  try {
    if (argsText.find_first_not_of(" \t\r\n") == std::string_view::npos)
      return LateCall(progId, member, Json(nullptr), options);
    Json args;
    try {
      args = ParseJson(argsText);
    } catch (const JsonFormError& e) {
      return Outcome(CallOutcomeKind::BadRequest, e.what());
    }
    if (!args.is_array() && !args.is_object())
      return Outcome(CallOutcomeKind::BadRequest, "the arguments must be a JSON array or object");
    return LateCall(progId, member, args, options);
  } catch (const std::exception& e) {
    return InternalError(e.what());
  } catch (...) {
    return InternalError("an unknown exception");
  }
}

}  // namespace morvane::call
