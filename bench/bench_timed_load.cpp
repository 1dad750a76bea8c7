#include "bench_timed_load.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <mutex>
#include <thread>

#include "bench_http_support.h"

namespace morvane::bench {

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void SetTimeouts(httplib::Client& client, int seconds) {
  client.set_connection_timeout(seconds, 0);
  client.set_read_timeout(seconds, 0);
  client.set_write_timeout(seconds, 0);
}

}  // namespace

TimedLoadResult RunTimedLoad(const TimedLoadOptions& load) {
  TimedLoadResult result;
  std::mutex mutex;  // guards result while the threads run
  // The clients, the probe and this thread start the timed phase together; it begins when the
  // last of them has arrived (the barrier's completion runs before any of them goes on).
  Clock::time_point t0, end;
  const auto phase = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(load.seconds));
  auto begin = [&]() noexcept {
    t0 = Clock::now();
    end = t0 + phase;
  };
  std::barrier start(load.clients + 2, begin);
  std::atomic<bool> clientsDone{false};

  // Warming up ends by this time even when the server is slow to answer, so that a failing load
  // still ends within its timeouts.
  const auto warmupDeadline = Clock::now() + std::chrono::milliseconds(load.timeoutSeconds * 500);
  std::vector<std::thread> clients;
  clients.reserve(static_cast<std::size_t>(load.clients));
  for (int c = 0; c < load.clients; ++c) {
    clients.emplace_back([&] {
      httplib::Client client(kLoopback, load.port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);  // the request's header and body leave at once
      SetTimeouts(client, load.timeoutSeconds);
      std::vector<double> mine;
      std::string problem;
      std::size_t bytes = 0;
      auto send = [&]() -> bool {
        auto res = client.Post(load.path, load.request, "application/json");
        if (!res || res->status != 200) {
          problem = res ? "status " + std::to_string(res->status) + ": " + res->body.substr(0, 300)
                        : "no answer within " + std::to_string(load.timeoutSeconds) + " s (" +
                              httplib::to_string(res.error()) + ")";
          return false;
        }
        bytes = res->body.size();
        return true;
      };
      for (int i = 0; i < load.warmup && Clock::now() < warmupDeadline && send(); ++i) {
      }
      start.arrive_and_wait();
      while (problem.empty() && Clock::now() < end) {
        const auto sent = Clock::now();
        if (send()) mine.push_back(MillisecondsSince(sent));
      }
      std::lock_guard lock(mutex);
      result.latenciesMs.insert(result.latenciesMs.end(), mine.begin(), mine.end());
      if (!problem.empty() && result.failure.empty()) result.failure = problem;
      if (bytes != 0) result.responseBytes = bytes;
    });
  }

  std::thread probe([&] {
    std::vector<double> mine;
    std::size_t failures = 0;
    start.arrive_and_wait();
    while (!clientsDone.load()) {
      const auto sent = Clock::now();
      httplib::Client client(kLoopback, load.port);  // a new connection, closed after the answer
      SetTimeouts(client, load.timeoutSeconds);
      auto res = client.Get("/v1/health");
      mine.push_back(MillisecondsSince(sent));
      if (!res || res->status != 200) ++failures;
      std::this_thread::sleep_until(sent + load.probeEvery);
    }
    std::lock_guard lock(mutex);
    result.probesMs = std::move(mine);
    result.probeFailures = failures;
  });

  start.arrive_and_wait();
  for (std::thread& t : clients) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  clientsDone = true;
  probe.join();

  result.requests = result.latenciesMs.size();
  std::sort(result.latenciesMs.begin(), result.latenciesMs.end());
  std::sort(result.probesMs.begin(), result.probesMs.end());
  return result;
}

}  // namespace morvane::bench
