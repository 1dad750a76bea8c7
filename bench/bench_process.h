// Measurement processes of the benchmark program. Every measurement runs in a child process of
// its own, the program itself started again with a sub-command ("--child NAME ARGS..."), so that
// its peak resident size is that of one piece of work and no measurement inherits the heap of
// another. The child reports its figures as "key=value" lines on its standard output; the parent
// reads them and the child's ru_maxrss (through wait4).
//
// Thread rules: RunChild may be called from one thread at a time (it forks).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace morvane::bench {

// What a child reported, and its peak resident size.
struct ChildResult {
  std::map<std::string, std::string> values;  // its "key=value" lines
  long maxRssKiB = 0;                         // ru_maxrss of the child

  // The value of a key as a number; throws std::runtime_error when the child did not report it.
  double Number(const std::string& key) const;
};

// The path of the running program (/proc/self/exe resolved), to start it again.
std::string SelfPath();

// Runs this program with "--child" followed by `args` and waits for it. Throws
// std::runtime_error, with the child's output, when it cannot start or exits with a failure.
ChildResult RunChild(const std::vector<std::string>& args);

// A child process started in the background with its output left to the terminal (servers).
// The destructor stops it (SIGTERM, then SIGKILL after two seconds) and reaps it.
class BackgroundProcess {
 public:
  // Starts `program` with `args` (argv[0] is `program`); its standard error goes to `errorFile`
  // when one is named. Throws std::runtime_error.
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const std::string& errorFile = "");
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // True while the process has not ended.
  bool Running();
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

// Times one section of a child: Stop reports "seconds" (elapsed, steady clock) and
// "cpu_seconds" (the process's CPU time, every thread), the second being less disturbed by other
// work on a shared machine.
class SectionTimer {
 public:
  SectionTimer() : wall_(std::chrono::steady_clock::now()), cpu_(ProcessCpuSeconds()) {}
  void Stop() const;

  static double ProcessCpuSeconds();

 private:
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

// Writes one "key=value" line for the parent (children only).
void Report(const std::string& key, const std::string& value);
void Report(const std::string& key, double value);

}  // namespace morvane::bench
