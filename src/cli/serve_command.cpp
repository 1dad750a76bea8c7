// morvane serve [--listen ADDR:PORT] [--config FILE] [--allow CONNECTSTRING]...: the network host
// (host/server.h) in the foreground until SIGINT or SIGTERM.
//
// The configuration file comes first; $MORVANE_TOKEN, when set, replaces its token, --listen its
// address, and each --allow adds a connection string. With no connection string at all the host
// serves the demonstration database of the current directory (morvane.db, as `morvane init
// --demo` makes it). Start-up messages and the access log go to standard error. Exit codes: 0
// stopped by a signal, 1 the server failed, 2 a usage or configuration error.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "datasource/c_parse.h"
#include "provision/database_init.h"
#include "host/server.h"
#include "platform/db/connection_string.h"

namespace morvane::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct ServeRequest {
  std::string listen;
  std::string configFile;
  std::vector<std::string> allow;
};

void Say(const std::string& line) { std::cerr << "morvane serve: " << line << std::endl; }

// The ConnectString entry of a connection description.
std::string ConnectStringOf(const std::string& sDsn) {
  datasource::CParse parse;
  parse.ParseString(sDsn);
  return parse.ConStr();
}

// Each open connection is a file descriptor; the usual soft limit of 1024 would cap the host far
// below what its event loop can hold, so it takes the hard limit the system grants.
void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

// The sDsn for the curl example: the demonstration database's, or that of the first allowed
// SQLite database; nullopt when the first allowed database is not a SQLite file.
std::optional<std::string> ExampleDsn(const std::vector<std::string>& allow) {
  if (allow.empty()) return std::nullopt;
  try {
    const auto cs = db::ConnectionString::Parse(allow.front());
    const std::string* provider = cs.Find("Provider");
    const std::string* path = cs.Find("Data Source");
    if (provider && path && automation::EqualsIgnoreCase(*provider, "SQLite")) return provision::DsnFor(*path);
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// Waits for SIGINT or SIGTERM on a thread of its own and stops the server. The signals are
// blocked in every thread (the mask is set before any thread starts), so only this one hears them.
class SignalWatcher {
 public:
  explicit SignalWatcher(host::Server& server) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    thread_ = std::thread([this, &server] {
      int number = 0;
      while (sigwait(&signals_, &number) == 0) {
        if (finished_) return;
        Say(std::string("stopping (") + (number == SIGINT ? "SIGINT" : "SIGTERM") + ")");
        server.Stop();
        return;
      }
    });
  }
  ~SignalWatcher() {
    finished_ = true;
    // Wakes the watcher when the server stopped by itself; harmless when it already returned.
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
  }
  static void BlockSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that goes away while its answer is written must not end the process.
    signal(SIGPIPE, SIG_IGN);
  }

 private:
  sigset_t signals_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

int RunServe(const ServeRequest& request) {
  host::HostConfig config;
  std::optional<std::string> exampleDsn;
  try {
    if (!request.configFile.empty()) config = host::ReadHostConfig(request.configFile);
    host::ApplyTokenVariable(config);
    if (!request.listen.empty()) config.listen = host::ParseListenAddress(request.listen);
    config.allow.insert(config.allow.end(), request.allow.begin(), request.allow.end());
    if (config.allow.empty()) {
      const std::filesystem::path demo = std::filesystem::absolute("morvane.db");
      const std::string sDsn = provision::DsnFor(demo);
      config.allow.push_back(ConnectStringOf(sDsn));
      exampleDsn = sDsn;
      if (std::filesystem::exists(demo)) {
        Say("serving the demonstration database " + demo.string());
      } else {
        Say("no database " + demo.string() +
            " exists: calls on it will fail. Create it with `morvane init --demo` in this directory, or name "
            "the databases to serve with --allow or a configuration file.");
      }
    } else {
      exampleDsn = ExampleDsn(config.allow);
    }
  } catch (const host::HostConfigError& e) {
    Say(e.what());
    return kExitUsage;
  } catch (const provision::DatabaseInitError& e) {
    Say(e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    Say(e.what());
    return kExitUsage;
  }

  SignalWatcher::BlockSignals();
  RaiseOpenFileLimit();
  std::unique_ptr<host::Server> server;
  int port = 0;
  try {
    host::ServerOptions options;
    options.config = config;
    server = std::make_unique<host::Server>(std::move(options));
    port = server->Bind();
  } catch (const host::ListenError& e) {
    Say(e.what());
    return kExitFailed;
  } catch (const host::HostConfigError& e) {
    Say(e.what());
    return kExitUsage;
  }

  host::ListenAddress bound = config.listen;
  bound.port = port;
  Say(std::string("listening on ") + (config.tls ? "https://" : "http://") + bound.Text() + " (" + std::to_string(config.workers) + " workers, " +
      std::to_string(config.allow.size()) + " allowed database" + (config.allow.size() == 1 ? "" : "s") +
      (config.token.empty() ? ", no token" : ", bearer token required") + ")");
  if (!IsLoopback(config.listen.host) && config.token.empty())
    Say(std::string("warning: listening beyond this machine without a token; set $") + host::kTokenVariable +
        " or \"token\" in the configuration");
  if (exampleDsn) Say("try: " + host::CurlExample(bound, *exampleDsn, !config.token.empty(), config.tls));
  Say("stop with Ctrl-C (SIGINT) or SIGTERM");

  bool ok;
  {
    SignalWatcher watcher(*server);
    ok = server->Run();
  }
  server.reset();
  if (!ok) {
    Say("the listening socket failed");
    return kExitFailed;
  }
  Say("stopped");
  return kExitOk;
}

// Where the secrets come from, for --help.
constexpr const char* kSecretsHelp =
    "Secrets: the bearer token is $MORVANE_TOKEN when that is set and not empty, else the\n"
    "configuration file's \"token\": the token as text, {\"fromEnv\": \"NAME\"} (the value of the\n"
    "environment variable NAME) or {\"fromFile\": \"PATH\"} (the file's contents, one trailing line\n"
    "end removed; PATH relative to the configuration file's folder). Each \"allow\" entry may be\n"
    "given the same three ways. Without a token the host asks for none.";

}  // namespace

void AddServeCommand(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<ServeRequest>();
  CLI::App* serve = app.add_subcommand("serve", "Serve the component's calls over HTTP (JSON bodies)");
  serve->add_option("--listen", request->listen, "Address and port to listen on (default 127.0.0.1:8080)");
  serve->add_option("--config", request->configFile, "JSON configuration file (see README, \"The network host\")");
  serve->add_option("--allow", request->allow,
                    "A connection string the host may open (repeatable; adds to the configuration's)")
      ->allow_extra_args(false);
  serve->footer(kSecretsHelp);
  serve->callback([request, &exitCode] { exitCode = RunServe(*request); });
}

}  // namespace morvane::cli
