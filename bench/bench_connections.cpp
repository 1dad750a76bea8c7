#include "bench_connections.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "bench_data.h"
#include "bench_idle_connections.h"
#include "bench_process.h"
#include "bench_timed_load.h"

namespace morvane::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFewClients = 8;
constexpr double kIdleRatio = 0.8;     // throughput with the idle connections / without
constexpr double kManyRatio = 0.9;     // throughput of the many clients / of the few
constexpr double kHealthP99Ms = 50;    // GET /v1/health while the idle connections are held
constexpr double kManyP99Ms = 100;     // GetBaseList among the many clients

struct Sizes {
  std::size_t idle;    // connections held open, sending nothing, during the load
  int manyClients;
  double seconds;      // the timed phase of each measurement
  int timeoutSeconds;  // of every connect and read; a measurement ends within 6 times this
};
constexpr Sizes kFullSizes{10000, 500, 3.0, 10};
constexpr Sizes kQuickSizes{200, 50, 0.5, 2};

// Settings the measurement needs of the host: the idle connections must stay open for the whole
// measurement (the host closes a connection that has sent nothing within
// firstByteTimeoutSeconds, 5 s by default), and they all come from one address.
constexpr std::pair<const char*, int> kHostSettings[] = {{"firstByteTimeoutSeconds", 60},
                                                         {"maxConnectionsPerClient", 20000}};

// Ends the process with a failure report when the measurement has not finished in time, so that
// a host that stops answering cannot hang the benchmark, whatever the client library does.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit) : thread_([this, limit] { Watch(limit); }) {}
  ~Watchdog() {
    Disarm();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // From now on the watchdog does nothing.
  void Disarm() {
    std::lock_guard lock(mutex_);
    disarmed_ = true;
    wake_.notify_all();
  }

 private:
  void Watch(std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, limit, [this] { return disarmed_; })) return;
    Report("failure", "the measurement did not finish within " + std::to_string(limit.count()) + " s");
    std::_Exit(0);  // what was reported is for the parent to read; Report has flushed it
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool disarmed_ = false;  // guarded by mutex_
  std::thread thread_;
};

void HeldLoadChild(const ChildArgs& a) {
  TimedLoadOptions options;
  options.port = std::stoi(a.at(0));
  options.path = a.at(1);
  options.request = ReadFile(a.at(2));
  options.clients = std::stoi(a.at(3));
  const auto idleCount = static_cast<std::size_t>(std::stoul(a.at(4)));
  options.seconds = std::stod(a.at(5));
  options.timeoutSeconds = std::stoi(a.at(6));
  const auto timeout = std::chrono::seconds(options.timeoutSeconds);
  Watchdog watchdog(6 * timeout);

  // Every idle connection, client and probe takes a descriptor.
  const std::size_t limit = RaiseOpenFileLimit();
  const std::size_t needed = idleCount + static_cast<std::size_t>(options.clients) + 64;
  if (limit < needed) {
    Report("failure", "the open-file limit of the clients (" + std::to_string(limit) + ") is below the " +
                          std::to_string(needed) + " descriptors needed; raise the hard limit (ulimit -Hn)");
    return;
  }

  IdleConnections idle(options.port);
  if (idleCount > 0) {
    const auto t0 = Clock::now();
    try {
      idle.Open(idleCount, t0 + timeout * 3 / 2);
    } catch (const std::runtime_error& e) {
      Report("failure", std::string("opening the idle connections: ") + e.what());
      return;
    }
    Report("idle_open_seconds", std::chrono::duration<double>(Clock::now() - t0).count());
    Report("idle_retries", static_cast<double>(idle.retries()));
    // The load starts once the host has taken them all, so that it does not measure accepting.
    Report("idle_accepted", idle.WaitAccepted(Clock::now() + timeout / 2) ? 1 : 0);
    Report("idle_opened", static_cast<double>(idle.size()));
  }

  const TimedLoadResult load = RunTimedLoad(options);
  if (idleCount > 0) Report("idle_open_at_end", static_cast<double>(idle.CountOpen()));
  watchdog.Disarm();

  Report("requests", static_cast<double>(load.requests));
  Report("requests_per_second", static_cast<double>(load.requests) / load.seconds);
  Report("p50_ms", Percentile(load.latenciesMs, 0.50));
  Report("p99_ms", Percentile(load.latenciesMs, 0.99));
  Report("response_bytes", static_cast<double>(load.responseBytes));
  Report("health_requests", static_cast<double>(load.probesMs.size()));
  Report("health_failures", static_cast<double>(load.probeFailures));
  Report("health_p50_ms", Percentile(load.probesMs, 0.50));
  Report("health_p99_ms", Percentile(load.probesMs, 0.99));
  if (!load.failure.empty()) Report("failure", load.failure);
}

struct Host {
  std::unique_ptr<BackgroundProcess> process;
  int port = 0;
  std::vector<std::string> unknownSettings;  // of kHostSettings, those the host does not know (left out)
};

// Starts `morvane serve` with kHostSettings in its configuration file. A host that refuses a
// setting as unknown (one older than the setting) is started again without it.
Host StartHost(const Context& ctx, const HttpWork& work) {
  Host host;
  host.port = FreePort();
  const std::string configFile = (ctx.work / "connections-host.json").string();
  const std::string logFile = (ctx.work / "connections-serve.log").string();
  auto known = [&host](const std::string& key) {
    return std::find(host.unknownSettings.begin(), host.unknownSettings.end(), key) == host.unknownSettings.end();
  };
  for (;;) {
    nlohmann::json config = nlohmann::json::object();
    for (const auto& [key, value] : kHostSettings)
      if (known(key)) config[key] = value;
    WriteFile(configFile, config.dump(2));
    host.process = std::make_unique<BackgroundProcess>(
        ctx.morvaneExe,
        std::vector<std::string>{"serve", "--listen", std::string(kLoopback) + ":" + std::to_string(host.port),
                                 "--config", configFile, "--allow", ConnectStringOf(work.db)},
        logFile);
    try {
      WaitUntilServing(host.port, *host.process, "morvane serve");
      return host;
    } catch (const std::runtime_error& e) {
      if (host.process->Running()) throw;
      const std::string log = ReadFile(logFile);
      std::string refused;
      for (const auto& [key, value] : kHostSettings)
        if (known(key) && log.find("unknown setting \"" + std::string(key) + "\"") != std::string::npos) refused = key;
      if (refused.empty()) throw std::runtime_error(std::string(e.what()) + ": " + log.substr(0, 500));
      host.unknownSettings.push_back(refused);
    }
  }
}

// The soft limit of open files of a process (/proc/PID/limits); 0 when it cannot be read.
std::size_t OpenFileLimitOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
  const std::string label = "Max open files";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(label, 0) != 0) continue;
    std::istringstream fields(line.substr(label.size()));
    std::string soft;
    fields >> soft;
    return soft == "unlimited" ? SIZE_MAX : static_cast<std::size_t>(std::stoull(soft));
  }
  return 0;
}

enum Kind { kFew, kIdle, kMany };

// The measurements of one kind. After a failed one no more are made: it would only fail again,
// each time after its timeouts.
struct Series {
  std::vector<ChildResult> finished;
  std::vector<ChildResult> all;  // failed ones too: they still count the idle connections
  std::string failure;           // why the failed one failed
};

FigureRow FailedRow(const Context& ctx, std::string what, std::string target) {
  FigureRow row;
  row.what = std::move(what);
  row.system = "failed";
  row.baseline = "—";
  row.target = std::move(target);
  if (!ctx.quick) row.holds = false;
  return row;
}

// A latency row held to a bound of its own; the baseline (NAN: none measured) and the ratio are
// for comparison only.
FigureRow WithinRow(const Context& ctx, std::string what, double systemMs, double baselineMs, double limitMs) {
  FigureRow row;
  row.what = std::move(what);
  row.system = FormatNumber(systemMs, 2) + " ms";
  row.baseline = std::isnan(baselineMs) ? "—" : FormatNumber(baselineMs, 2) + " ms";
  if (!std::isnan(baselineMs)) row.ratio = systemMs / baselineMs;
  row.target = "≤ " + FormatNumber(limitMs, 0) + " ms";
  if (!ctx.quick) row.holds = systemMs <= limitMs;
  return row;
}

std::string Joined(const std::vector<std::string>& items, const std::string& between) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : between) + item;
  return text;
}

}  // namespace

void AddConnectionChildren(std::map<std::string, ChildMain>& children) {
  children["http-connections"] = HeldLoadChild;
}

std::vector<FigureRow> ConnectionFigures(const Context& ctx, const HttpWork& work) {
  const Sizes sizes = ctx.quick ? kQuickSizes : kFullSizes;
  Host host = StartHost(ctx, work);
  const std::size_t hostFileLimit = OpenFileLimitOf(host.process->pid());
  const auto queue = ListenQueueOf(host.port);

  auto argsOf = [&](Kind kind) {
    const int clients = kind == kMany ? sizes.manyClients : kFewClients;
    const std::size_t idle = kind == kIdle ? sizes.idle : 0;
    return std::vector<std::string>{"http-connections",     std::to_string(host.port),
                                    work.path,              work.requestFile,
                                    std::to_string(clients), std::to_string(idle),
                                    FormatNumber(sizes.seconds, 2), std::to_string(sizes.timeoutSeconds)};
  };
  std::array<Series, 3> series;
  for (int run = 0; run < ctx.runs; ++run) {
    // Alternating the order spreads a slow moment of the machine over every kind.
    const std::array<Kind, 3> order = run % 2 == 0 ? std::array{kFew, kIdle, kMany} : std::array{kMany, kIdle, kFew};
    for (Kind kind : order) {
      Series& s = series[kind];
      if (!s.failure.empty()) continue;
      // A host still busy with the connections of the last measurement would slow this one.
      WaitUntilServing(host.port, *host.process, "morvane serve");
      ChildResult result = RunChild(argsOf(kind));
      s.all.push_back(result);
      if (auto f = result.values.find("failure"); f != result.values.end()) {
        s.failure = f->second;
      } else {
        s.finished.push_back(std::move(result));
      }
    }
  }
  const Series& few = series[kFew];
  const Series& idle = series[kIdle];
  const Series& many = series[kMany];
  auto ok = [](const Series& s) { return s.failure.empty() && !s.finished.empty(); };

  const std::string idleText = FormatNumber(static_cast<double>(sizes.idle), 0);
  const std::string idleWhat = idleText + " idle connections held open while " + std::to_string(kFewClients) +
                               " clients call `GetBaseList`";
  const std::string manyWhat = std::to_string(sizes.manyClients) + " keep-alive clients calling `GetBaseList`";
  const std::string fewText = std::to_string(kFewClients) + " clients";
  std::vector<FigureRow> rows;
  std::vector<std::string> failures;
  // Why a kind failed, and what its failed run had measured until a client gave up.
  auto failed = [&](const std::string& what, const Series& s) {
    if (s.failure.empty()) return;
    std::string line = what + ": " + s.failure;
    const ChildResult& last = s.all.back();
    if (last.values.count("requests"))
      line += " (until then " + FormatNumber(last.Number("requests"), 0) + " requests answered, p99 " +
              FormatNumber(last.Number("p99_ms"), 1) + " ms; health p99 " + FormatNumber(last.Number("health_p99_ms"), 1) +
              " ms over " + FormatNumber(last.Number("health_requests"), 0) + " probes)";
    failures.push_back(line);
  };
  failed("with " + fewText + " and no idle connections", few);
  failed("with the idle connections held", idle);
  failed("with " + std::to_string(sizes.manyClients) + " clients", many);

  // The idle connections: the fewest still open at the end of any run.
  std::size_t fewestOpen = sizes.idle, fewestOpened = sizes.idle;
  bool allAccepted = true;
  std::vector<ChildResult> countedRuns;
  for (const ChildResult& r : idle.all) {
    if (!r.values.count("idle_opened")) continue;
    countedRuns.push_back(r);
    fewestOpened = std::min(fewestOpened, static_cast<std::size_t>(r.Number("idle_opened")));
    fewestOpen = std::min(fewestOpen, r.values.count("idle_open_at_end")
                                          ? static_cast<std::size_t>(r.Number("idle_open_at_end"))
                                          : std::size_t{0});
    allAccepted = allAccepted && r.Number("idle_accepted") != 0;
  }
  const bool counted = !countedRuns.empty();
  const bool allHeld = counted && fewestOpen == sizes.idle;

  if (ok(few) && ok(idle)) {
    FigureRow rate = Compare(ctx, idleWhat + ": requests/s", Median(idle.finished, "requests_per_second"),
                             Median(few.finished, "requests_per_second"), "req/s", kIdleRatio, false);
    if (rate.holds) rate.holds = *rate.holds && allHeld;
    rows.push_back(rate);
  } else {
    rows.push_back(FailedRow(ctx, idleWhat + ": requests/s", "≥ " + FormatNumber(kIdleRatio, 1) + "×"));
  }

  FigureRow held;
  held.what = idleWhat + ": idle connections still open at the end";
  held.baseline = "—";
  held.target = "all " + idleText;
  if (counted) {
    held.system = FormatNumber(static_cast<double>(fewestOpen), 0) + " of " + idleText;
    if (!ctx.quick) held.holds = allHeld;
  } else {
    held = FailedRow(ctx, held.what, held.target);
  }
  rows.push_back(held);

  const std::string healthWhat = idleWhat + ": `GET /v1/health` p99 latency";
  if (ok(idle)) {
    rows.push_back(WithinRow(ctx, healthWhat, Median(idle.finished, "health_p99_ms"),
                             ok(few) ? Median(few.finished, "health_p99_ms") : NAN, kHealthP99Ms));
  } else {
    rows.push_back(FailedRow(ctx, healthWhat, "≤ " + FormatNumber(kHealthP99Ms, 0) + " ms"));
  }

  if (ok(few) && ok(many)) {
    rows.push_back(Compare(ctx, manyWhat + ": requests/s vs " + fewText, Median(many.finished, "requests_per_second"),
                           Median(few.finished, "requests_per_second"), "req/s", kManyRatio, false));
  } else {
    rows.push_back(FailedRow(ctx, manyWhat + ": requests/s vs " + fewText, "≥ " + FormatNumber(kManyRatio, 1) + "×"));
  }
  if (ok(many)) {
    rows.push_back(WithinRow(ctx, manyWhat + ": p99 latency", Median(many.finished, "p99_ms"),
                             ok(few) ? Median(few.finished, "p99_ms") : NAN, kManyP99Ms));
  } else {
    rows.push_back(FailedRow(ctx, manyWhat + ": p99 latency", "≤ " + FormatNumber(kManyP99Ms, 0) + " ms"));
  }

  std::string note =
      "Connections: one `morvane serve` for these rows (configuration " +
      Joined([&] {
        std::vector<std::string> set;
        for (const auto& [key, value] : kHostSettings)
          if (std::find(host.unknownSettings.begin(), host.unknownSettings.end(), key) == host.unknownSettings.end())
            set.push_back(std::string(key) + " " + std::to_string(value));
        return set.empty() ? std::vector<std::string>{"the defaults"} : set;
      }(), ", ") +
      "; listen backlog " + (queue ? std::to_string(queue->backlog) : std::string("unknown")) +
      ", open-file limit " + (hostFileLimit == SIZE_MAX ? std::string("unlimited") : std::to_string(hostFileLimit)) +
      "); the baseline column is the same host with " + fewText +
      " and no idle connections, measured alternately with the others; each measurement " +
      FormatNumber(sizes.seconds, 1) + " s of load after 5 warm-up requests per client, a `GET /v1/health` on a new "
      "connection every 5 ms beside it, every connect and read limited to " + std::to_string(sizes.timeoutSeconds) +
      " s.";
  if (counted)
    note += " Idle connections: at least " + FormatNumber(static_cast<double>(fewestOpened), 0) + " of " + idleText +
            " opened in each run (median " + FormatSeconds(Median(countedRuns, "idle_open_seconds")) + ", " +
            FormatNumber(Median(countedRuns, "idle_retries"), 0) + " attempts retried)" +
            (allAccepted ? ", all taken off the listen queue before the load" : ", some still on the listen queue when the load began") + ".";
  if (!host.unknownSettings.empty())
    note += " This host does not know " + Joined(host.unknownSettings, " or ") +
            ": it ran without, and closes an idle connection after its own timeout.";
  if (hostFileLimit != 0 && hostFileLimit < sizes.idle + 100)
    note += " The host's open-file limit is below the idle connections it is to hold.";
  if (ok(few))
    note += " Without idle connections, " + fewText + ": " + FormatNumber(Median(few.finished, "requests_per_second"), 0) +
            " req/s, p99 " + FormatNumber(Median(few.finished, "p99_ms"), 2) + " ms, `GET /v1/health` p99 " +
            FormatNumber(Median(few.finished, "health_p99_ms"), 2) + " ms.";
  for (const std::string& f : failures) note += " Failed " + f + ".";
  rows.front().note = note;
  return rows;
}

}  // namespace morvane::bench
