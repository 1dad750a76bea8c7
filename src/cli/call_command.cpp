// morvane call PROGID METHOD [ARGS]: one late call (host/late_call.h) from the command line.
//
// ARGS is one JSON array (positional) or object (named); "-" reads it from standard input; no
// ARGS means no arguments. The result is printed as one line of JSON on standard output (exit
// 0); an error raised by the call is printed as its error object on standard error (exit 1); a
// usage error is one line "morvane call: <what is wrong>" on standard error (exit 2).
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "call/late_call.h"

namespace morvane::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCallFailed = 1;
constexpr int kExitUsage = 2;

// Arguments read from standard input beyond this size are refused rather than held in memory.
constexpr std::size_t kMaxStdinArguments = 64u << 20;

struct CallRequest {
  std::string progId;
  std::string method;
  std::optional<std::string> args;
};

// One line, whatever the text holds.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

int UsageError(const std::string& what) {
  std::cerr << "morvane call: " << OneLine(what) << "\n";
  return kExitUsage;
}

int RunCall(const CallRequest& request) {
  std::string argsText;
  if (request.args && *request.args == "-") {
    std::cin >> std::noskipws;
    std::istreambuf_iterator<char> it(std::cin), end;
    for (; it != end; ++it) {
      if (argsText.size() == kMaxStdinArguments) return UsageError("the arguments on standard input are too large");
      argsText += *it;
    }
    if (argsText.find_first_not_of(" \t\r\n") == std::string::npos)
      return UsageError("no arguments were given on standard input");
  } else if (request.args) {
    argsText = *request.args;
    if (argsText.find_first_not_of(" \t\r\n") == std::string::npos)
      return UsageError("ARGS is empty; give a JSON array or object, or leave it out");
  }

  call::CallOutcome outcome = call::LateCallText(request.progId, request.method, argsText);
  switch (outcome.kind) {
    case call::CallOutcomeKind::Ok:
      std::cout << call::DumpJson(outcome.body) << std::endl;
      return kExitOk;
    case call::CallOutcomeKind::CallError:
      std::cerr << call::DumpJson(outcome.body) << std::endl;
      return kExitCallFailed;
    case call::CallOutcomeKind::BadRequest:
    case call::CallOutcomeKind::NotFound:
    case call::CallOutcomeKind::Refused: break;
  }
  return UsageError(outcome.message);
}

}  // namespace

void AddCallCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<CallRequest>();
  CLI::App* call = app.add_subcommand("call", "Create a class by its ProgID and call one of its members by name");
  call->add_option("PROGID", request->progId, "ProgID of the class, such as ObjLib.TextMeter")->required();
  call->add_option("METHOD", request->method, "name of the method or property to call")->required();
  call->add_option("ARGS", request->args,
                   "arguments: a JSON array (positional) or object (named); - reads them from standard input");
  call->callback([request, &exitCode] { exitCode = RunCall(*request); });
}

}  // namespace morvane::cli
