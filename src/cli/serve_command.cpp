#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace morvane::cli {
// Placeholder until the host exists.
void AddServeCommand(CLI::App&, int&) {}
}  // namespace morvane::cli
