// The subcommands of `morvane`. Each adds itself to the command line parser; the callback it
// installs runs the command and stores the process's exit code in `exitCode`.
#pragma once

namespace CLI {
class App;
}

namespace morvane::cli {

// morvane init [--db PATH] [--demo] [--force]
void AddInitCommand(CLI::App& app, int& exitCode);
// morvane call PROGID METHOD [ARGS]
void AddCallCommand(CLI::App& app, int& exitCode);
// morvane serve [--listen ADDR:PORT] [--config FILE] [--allow CONNECTSTRING]...
void AddServeCommand(CLI::App& app, int& exitCode);

}  // namespace morvane::cli
