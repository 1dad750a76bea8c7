// The late call: creates a class by its ProgID under the transaction runtime, calls one of its
// members by name with arguments given in JSON, and tells what came of it. `morvane call` and the
// network host both call through here, so both bind, convert and report the same way.
//
//   CallOutcome out = LateCallText("ObjLib.TextMeter", "Measure", R"(["héllo"])");
//   // out.kind == CallOutcomeKind::Ok, out.body == 5
//
// Arguments are a JSON array (positional), a JSON object (named by parameter name, letter case
// ignored) or nothing; each is read in the JSON form of json_form.h and then converted to its
// parameter's declared type by the late-binding layer. No exception leaves these functions: every
// failure is an outcome. Thread-safe: each call creates its own object.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "call/json_form.h"
#include "platform/automation/type_info.h"

namespace morvane::call {

enum class CallOutcomeKind {
  Ok,          // body: the result (null for a member without one)
  CallError,   // body: the error object of the error the call raised (json_form.h ErrorToJson)
  BadRequest,  // message: malformed JSON, an argument of the wrong type, a wrong argument count
  NotFound,    // message: no class of that ProgID, or no member of that name
  Refused,     // message: the options' validator refused the call (the host answers 403)
};

struct CallOutcome {
  CallOutcomeKind kind = CallOutcomeKind::Ok;
  Json body;            // Ok and CallError; null otherwise
  std::string message;  // BadRequest, NotFound, Refused: one line saying what is wrong
  // BadRequest and NotFound that came from binding: the binding error's number (429, 438, 449,
  // 450, 13); 0 otherwise (malformed JSON, a refusal).
  std::int32_t number = 0;
};

// Looks at a call about to be made, its arguments bound and converted to their declared types;
// returns a message to refuse it, or nullopt to let it run.
using CallValidator = std::function<std::optional<std::string>(
    const automation::TypeInfo& type, const automation::MemberInfo& member, std::span<const automation::Variant> args)>;

struct LateCallOptions {
  CallValidator validate;  // optional
};

// Calls progId.member(args). `args` is an array, an object, or null for no arguments.
CallOutcome LateCall(std::string_view progId, std::string_view member, const Json& args,
                     const LateCallOptions& options = {});

// The same with the arguments as JSON text; an empty or blank text means no arguments.
CallOutcome LateCallText(std::string_view progId, std::string_view member, std::string_view argsText,
                         const LateCallOptions& options = {});

// The error number given to a failure that is not a numbered error (an exception of the C++
// library, a result that JSON cannot write): 51, "Internal error".

}  // namespace morvane::call
