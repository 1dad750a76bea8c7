#include "bench_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>


namespace morvane::bench {

namespace {

std::vector<char*> Argv(std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

}  // namespace

double ChildResult::Number(const std::string& key) const {
  auto it = values.find(key);
  if (it == values.end()) throw std::runtime_error("the measurement reported no '" + key + "'");
  return std::stod(it->second);
}

std::string SelfPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

ChildResult RunChild(const std::vector<std::string>& args) {
  std::vector<std::string> full{SelfPath(), "--child"};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<char*> argv = Argv(full);

  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(fds[1]);
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      output.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);

  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("measurement '" + Joined(args) + "' failed (status " + std::to_string(status) +
                             "); its output:\n" + output);

  ChildResult result;
  result.maxRssKiB = usage.ru_maxrss;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) result.values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                                     const std::string& errorFile) {
  std::vector<std::string> full{program};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<char*> argv = Argv(full);
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    if (!errorFile.empty()) {
      const int fd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
      }
    }
    ::execv(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
}

bool BackgroundProcess::Running() {
  if (reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ <= 0 || !Running()) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200 && Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (Running()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

void Report(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

void Report(const std::string& key, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  Report(key, std::string(text));
}

double SectionTimer::ProcessCpuSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void SectionTimer::Stop() const {
  const double cpu = ProcessCpuSeconds() - cpu_;
  Report("seconds", std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count());
  Report("cpu_seconds", cpu);
}

}  // namespace morvane::bench
