// Fuzzes the host's decoding of a call request: the JSON body of POST /v1/{ProgID}/{Method} read
// in the JSON form, bound to the member's parameters by position or by name, converted to their
// declared types, and checked against the allow-list of connection strings.
//
// Input: the first byte picks the class and the member (the component's two classes, every
// member); the rest is the request body. The validator refuses every call that gets past binding,
// so nothing reaches a database: what is fuzzed is everything the host does before a call runs.
// LateCallText may not raise, no call may get past the validator, every refusal must say what
// was wrong, and none may show the password of the allowed connection string.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "call/late_call.h"
#include "host/server_allow_list.h"
#include "platform/automation/registry.h"
#include "service/module.h"

namespace {

using morvane::call::CallOutcome;
using morvane::call::CallOutcomeKind;

constexpr std::string_view kPassword = "fuzz-secret-7731";

struct Target {
  std::string progId;
  std::string member;
};

struct Setup {
  std::vector<Target> targets;
  morvane::host::ConnectStringAllowList allow{
      {"Provider=SQLite;Data Source=/nonexistent/morvane-fuzz.db;PWD=" + std::string(kPassword)}};
  morvane::call::LateCallOptions options;

  Setup() {
    DllRegisterServer();
    for (const char* progId : {"Morvane.VchTempSetInfo", "Morvane.VchTempSetUpdate"}) {
      const auto registration = morvane::automation::Registry::Instance().Find(progId);
      if (!registration || !registration->info) {
        std::fprintf(stderr, "fuzz_host_request: %s is not registered\n", progId);
        std::abort();
      }
      for (const auto& member : registration->info->members) targets.push_back({progId, member.name});
    }
    const morvane::call::CallValidator allowed = allow.Validator();
    options.validate = [allowed](const auto& type, const auto& member, auto args) -> std::optional<std::string> {
      if (auto refusal = allowed(type, member, args)) return refusal;
      return std::string("bound; not run while fuzzing");
    };
  }
};

std::string_view g_input;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_host_request: %s; input [%.*s]\n", what.c_str(), static_cast<int>(g_input.size()),
               g_input.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setup setup;
  if (size == 0) return 0;
  g_input = std::string_view(reinterpret_cast<const char*>(data), size);
  const Target& target = setup.targets[data[0] % setup.targets.size()];
  const std::string_view body = g_input.substr(1);

  CallOutcome outcome;
  try {
    outcome = morvane::call::LateCallText(target.progId, target.member, body, setup.options);
  } catch (const std::exception& e) {
    Fail(std::string("LateCallText raised: ") + e.what());
  } catch (...) {
    Fail("LateCallText raised something that is not an exception");
  }
  switch (outcome.kind) {
    case CallOutcomeKind::Ok:
      Fail("a call ran although the validator refuses every call");
    case CallOutcomeKind::CallError:
      // Creating the object raised a numbered error: the call's, answered as such.
      break;
    case CallOutcomeKind::BadRequest:
    case CallOutcomeKind::NotFound:
      if (outcome.message.empty()) Fail("a refused request without a message");
      break;
    case CallOutcomeKind::Refused:
      if (outcome.message.empty()) Fail("a refusal without a message");
      // The allowed connection string's password never shows (the caller may name it, then it is
      // the caller's own text that comes back, masked or not).
      if (body.find(kPassword) == std::string_view::npos && outcome.message.find(kPassword) != std::string::npos)
        Fail("a refusal shows the allowed connection string's password: " + outcome.message);
      break;
  }
  return 0;
}
