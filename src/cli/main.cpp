// morvane: the command line of the component (init, call, serve; --version prints the version).
//
// Exit codes: 0 success; 1 the command ran and failed (a call that raised); 2 a usage error.
#include <exception>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "service/module.h"

int main(int argc, char** argv) {
  try {
    DllRegisterServer();
    CLI::App app{"morvane: the voucher template settings component and its host"};
    app.require_subcommand(1);
    // MORVANE_VERSION is the project's version, given by the build.
    app.set_version_flag("--version", "morvane " MORVANE_VERSION, "Print the version and exit");
    int exitCode = 0;
    morvane::cli::AddInitCommand(app, exitCode);
    morvane::cli::AddCallCommand(app, exitCode);
    morvane::cli::AddServeCommand(app, exitCode);
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      // Help and --version exit 0; every other parse error is a usage error.
      return app.exit(e) == 0 ? 0 : 2;
    }
    return exitCode;
  } catch (const std::exception& e) {
    std::cerr << "morvane: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "morvane: an unknown error stopped the command\n";
  }
  return 1;
}
