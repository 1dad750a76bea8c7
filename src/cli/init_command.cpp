// morvane init [--db PATH] [--demo] [--force]: creates the database and prints its sDsn, the one
// line on standard output; messages go to standard error. Exit codes: 0 done, 1 the database could
// not be created, 2 the file exists and --force was not given, or it is one that is never
// replaced (not a regular file, or a database held open).
// morvane init --connect CONNECTSTRING [--demo] [--force]: the same tables in the database that an
// ODBC connection string reaches (the scripts of the product the driver reports); exit code 2 when
// the component's tables exist there and --force (drop them first) was not given.
#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "provision/database_init.h"

namespace morvane::cli {

void AddInitCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<provision::DatabaseInitOptions>();
  auto path = std::make_shared<std::string>(options->path.string());
  auto connect = std::make_shared<std::string>();
  CLI::App* init = app.add_subcommand("init", "Create a database for the component (a SQLite file, or a server's through --connect) and print its sDsn");
  CLI::Option* db = init->add_option("--db", *path, "The database file to create")->capture_default_str();
  init->add_option("--connect", *connect,
                   "An ODBC connection string (Driver=...;Server=...): create the tables in that database instead")
      ->excludes(db);
  init->add_flag("--demo", options->demo, "Also fill in sample departments, expenses and settings");
  init->add_flag("--force", options->force,
                 "Replace the file (and its -wal, -shm, -journal files) if it exists, unless it is not a regular file "
                 "or is held open; with --connect, drop the component's tables first");
  init->callback([options, path, connect, &exitCode] {
    options->path = *path;
    try {
      if (!connect->empty())
        std::cout << provision::InitServerDatabase({.connectString = *connect, .demo = options->demo, .force = options->force})
                  << std::endl;
      else
        std::cout << provision::InitDatabase(*options) << std::endl;
      exitCode = 0;
    } catch (const provision::DatabaseInitError& e) {
      std::cerr << "morvane init: " << e.what() << std::endl;
      exitCode = e.kind() == provision::DatabaseInitError::Kind::Failed ? 1 : 2;
    } catch (const std::exception& e) {
      std::cerr << "morvane init: " << e.what() << std::endl;
      exitCode = 1;
    }
  });
}

}  // namespace morvane::cli
