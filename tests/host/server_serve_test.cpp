// `morvane serve` as the built executable: what it says on start, that its curl example works
// against the demonstration database, and that SIGTERM and SIGINT stop it cleanly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "provision/database_init.h"
#include "host/server_fixture.h"
#include "testing/scoped_variable.h"
#include "testing/temp_folder.h"

namespace morvane::testing {
namespace {

const std::string kExecutable = MORVANE_BUILD_DIR "/morvane";

// The executable running in `folder`, its standard error read line by line.
class ServeProcess {
 public:
  ServeProcess(const std::filesystem::path& folder, const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeFds[1], STDERR_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(kExecutable.c_str()));
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kExecutable.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    err_ = ::fdopen(pipeFds[0], "r");
  }
  ~ServeProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (err_) ::fclose(err_);
  }

  // The next line of standard error, or nullopt at its end.
  std::optional<std::string> Line() {
    char buffer[8192];
    if (!err_ || !::fgets(buffer, sizeof buffer, err_)) return std::nullopt;
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    all_ += line + "\n";
    return line;
  }
  // Reads lines until one matches; returns its match, or an empty match at the end.
  std::smatch WaitFor(const std::regex& pattern) {
    while (auto line = Line()) {
      lines_.push_back(*line);
      std::smatch m;
      if (std::regex_search(lines_.back(), m, pattern)) return m;
    }
    return {};
  }
  // Sends the signal and returns the exit status (or -1 when it did not exit normally).
  int Stop(int signal) {
    ::kill(pid_, signal);
    while (Line()) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return all_; }

 private:
  pid_t pid_ = -1;
  FILE* err_ = nullptr;
  bool exited_ = false;
  std::vector<std::string> lines_;
  std::string all_;
};

class ServeExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kExecutable)) GTEST_SKIP() << kExecutable << " is not built";
  }
};

TEST_F(ServeExecutableTest, ServesTheDemoDatabaseAndItsCurlExampleWorks) {
  TempFolder folder;
  provision::InitDatabase({.path = folder / "morvane.db", .demo = true});
  ServeProcess serve(folder.path(), {"serve", "--listen", "127.0.0.1:0"});
  const std::smatch listening = serve.WaitFor(std::regex(R"(listening on http://127\.0\.0\.1:(\d+))"));
  ASSERT_FALSE(listening.empty()) << serve.output();
  const int port = std::stoi(listening[1]);
  const std::smatch example = serve.WaitFor(std::regex(R"(try: (curl -s -X POST http://\S+ -d '(.*)')$)"));
  ASSERT_FALSE(example.empty()) << serve.output();
  EXPECT_NE(example[1].str().find("http://127.0.0.1:" + std::to_string(port) + "/v1/Morvane.VchTempSetInfo/GetBaseList"),
            std::string::npos);

  // The example's body, sent as curl would send it.
  HostClient client(port);
  const Reply reply = client.Post("/v1/Morvane.VchTempSetInfo/GetBaseList", example[2].str());
  ASSERT_EQ(reply.status, 200) << reply;
  EXPECT_FALSE(reply.body["result"].empty()) << "the demonstration database has settings of category 301";

  EXPECT_EQ(serve.Stop(SIGTERM), 0) << serve.output();
  EXPECT_NE(serve.output().find("GetBaseList 200"), std::string::npos) << "the access log:\n" << serve.output();
}

TEST_F(ServeExecutableTest, SaysSoWhenTheDemoDatabaseIsMissingAndStillServes) {
  TempFolder folder;
  ServeProcess serve(folder.path(), {"serve", "--listen", "127.0.0.1:0"});
  const std::smatch listening = serve.WaitFor(std::regex(R"(listening on http://127\.0\.0\.1:(\d+))"));
  ASSERT_FALSE(listening.empty()) << serve.output();
  EXPECT_NE(serve.output().find("no database " + (folder / "morvane.db").string() + " exists"), std::string::npos)
      << serve.output();
  EXPECT_EQ(HostClient(std::stoi(listening[1])).Get("/v1/health").status, 200);
  EXPECT_EQ(serve.Stop(SIGINT), 0) << serve.output();
}

// A second host on a port that one already serves must not start: with SO_REUSEPORT the kernel
// would split the connections between two hosts of different configurations.
TEST_F(ServeExecutableTest, APortInUseIsRefused) {
  TempFolder folder;
  ServeProcess first(folder.path(), {"serve", "--listen", "127.0.0.1:0"});
  const std::smatch listening = first.WaitFor(std::regex(R"(listening on http://127\.0\.0\.1:(\d+))"));
  ASSERT_FALSE(listening.empty()) << first.output();
  const std::string address = "127.0.0.1:" + listening[1].str();

  ServeProcess second(folder.path(), {"serve", "--listen", address});
  EXPECT_FALSE(second.WaitFor(std::regex("cannot listen|listening on")).empty()) << second.output();
  EXPECT_EQ(second.Stop(SIGTERM), 1) << second.output();
  EXPECT_NE(second.output().find("cannot listen on " + address + ": address already in use"), std::string::npos)
      << second.output();
  EXPECT_EQ(second.output().find("listening on"), std::string::npos) << second.output();

  // In process as well, and the first host goes on serving.
  host::ServerOptions options;
  options.config.listen = host::ListenAddress{"127.0.0.1", std::stoi(listening[1])};
  options.log = [](std::string_view) {};
  host::Server again(std::move(options));
  EXPECT_THROW(again.Bind(), host::ListenError);
  EXPECT_EQ(HostClient(std::stoi(listening[1])).Get("/v1/health").status, 200);
  EXPECT_EQ(first.Stop(SIGTERM), 0) << first.output();
}

TEST_F(ServeExecutableTest, ConfigurationErrorsAreUsageErrors) {
  TempFolder folder;
  const auto config = folder.Write("host.json", R"({"workers": 0})");
  const struct {
    const char* what;
    std::vector<std::string> args;
  } cases[] = {
      {"a configuration value out of range", {"serve", "--config", config.string()}},
      {"a missing configuration file", {"serve", "--config", (folder / "none.json").string()}},
      {"a listen address without port", {"serve", "--listen", "127.0.0.1"}},
      {"an allowed string that names a key twice", {"serve", "--allow", "DSN=a;dsn=b", "--listen", "127.0.0.1:0"}},
  };
  for (const auto& c : cases) {
    ServeProcess serve(folder.path(), c.args);
    while (serve.Line()) {
    }
    EXPECT_EQ(serve.Stop(SIGTERM), 2) << c.what << ": " << serve.output();
    EXPECT_NE(serve.output().find("morvane serve: "), std::string::npos) << c.what;
  }
}

// The host keeps its connections open between calls: `init --force` must not swap the database
// under it (every later change would go to a file that no longer has a name).
TEST_F(ServeExecutableTest, InitForceRefusesTheDatabaseARunningHostHolds) {
  TempFolder folder;
  const std::string sDsn = provision::InitDatabase({.path = folder / "morvane.db", .demo = true});
  ServeProcess serve(folder.path(), {"serve", "--listen", "127.0.0.1:0"});
  const std::smatch listening = serve.WaitFor(std::regex(R"(listening on http://127\.0\.0\.1:(\d+))"));
  ASSERT_FALSE(listening.empty()) << serve.output();
  HostClient client(std::stoi(listening[1]));
  const Json args = Json::array({sDsn});
  ASSERT_EQ(client.Post("/v1/Morvane.VchTempSetInfo/GetBaseList", args).status, 200);

  const std::string init = "cd '" + folder.path().string() + "' && '" + kExecutable + "' init --force 2>&1";
  FILE* pipe = ::popen(init.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string said;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) said.append(buffer, n);
  const int status = ::pclose(pipe);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2) << said;
  EXPECT_EQ(said, "morvane init: database in use by another process: " + (folder / "morvane.db").string() + "\n");

  const Reply after = client.Post("/v1/Morvane.VchTempSetInfo/GetBaseList", args);
  ASSERT_EQ(after.status, 200) << after;
  EXPECT_FALSE(after.body["result"].empty()) << "the demonstration settings are still there";
  EXPECT_EQ(serve.Stop(SIGTERM), 0) << serve.output();
}

// $MORVANE_TOKEN lets an operator keep the token out of the configuration file; it wins over the
// file's, and a value that cannot be a token stops the host before it listens.
TEST_F(ServeExecutableTest, TheTokenVariableWinsOverTheConfigurationsToken) {
  TempFolder folder;
  const auto config = folder.Write("host.json", R"({"token": "file-token", "listen": "127.0.0.1:0"})");
  {
    ScopedVariable token("MORVANE_TOKEN", "env-token");
    ServeProcess serve(folder.path(), {"serve", "--config", config.string()});
    const std::smatch listening = serve.WaitFor(std::regex(R"(listening on http://127\.0\.0\.1:(\d+).*bearer token required)"));
    ASSERT_FALSE(listening.empty()) << serve.output();
    HostClient client(std::stoi(listening[1]));
    EXPECT_EQ(client.Get("/v1/classes", {{"Authorization", "Bearer env-token"}}).status, 200);
    EXPECT_EQ(client.Get("/v1/classes", {{"Authorization", "Bearer file-token"}}).status, 401);
    EXPECT_EQ(serve.Stop(SIGTERM), 0) << serve.output();
    EXPECT_EQ(serve.output().find("env-token"), std::string::npos) << "the token was echoed:\n" << serve.output();
  }
  ScopedVariable token("MORVANE_TOKEN", "with blank");
  ServeProcess serve(folder.path(), {"serve", "--config", config.string()});
  while (serve.Line()) {
  }
  EXPECT_EQ(serve.Stop(SIGTERM), 2) << serve.output();
  EXPECT_NE(serve.output().find("$MORVANE_TOKEN may hold visible ASCII characters only"), std::string::npos)
      << serve.output();
}

TEST_F(ServeExecutableTest, HelpSaysWhereTheTokenComesFrom) {
  FILE* pipe = ::popen(("'" + kExecutable + "' serve --help").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string help;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) help.append(buffer, n);
  EXPECT_EQ(::pclose(pipe), 0);
  for (const char* source : {"$MORVANE_TOKEN", "\"token\"", "{\"fromEnv\": \"NAME\"}", "{\"fromFile\": \"PATH\"}", "\"allow\""})
    EXPECT_NE(help.find(source), std::string::npos) << source << " is not in:\n" << help;
}

}  // namespace
}  // namespace morvane::testing
