// The HTTP figures: GetBaseList through `morvane serve` on loopback, with concurrent keep-alive
// clients, against a server of the same HTTP library answering the same JSON body, fixed, without
// calling the component; then the connection figures (bench_connections.h). Children:
//   http-baseline-server PORT BODYFILE WORKERS   serves until it is stopped
//   http-load PORT PATH REQUESTFILE CLIENTS REQUESTS WARMUP
//       CLIENTS threads, each with one keep-alive connection, send WARMUP requests, wait for
//       each other, then REQUESTS requests each; reports requests_per_second, p50_ms, p99_ms and
//       response_bytes (of the last answer). Any answer but 200 fails the measurement.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <barrier>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "bench_children.h"
#include "bench_connections.h"
#include "bench_data.h"
#include "bench_figures.h"
#include "bench_http_support.h"
#include "bench_process.h"
#include "provision/database_init.h"

namespace morvane::bench {

namespace {

constexpr const char* kHost = kLoopback;
constexpr int kWorkers = 8;  // the host's default number of worker threads

void BaselineServer(const ChildArgs& a) {
  const int port = std::stoi(a.at(0));
  const std::string body = ReadFile(a.at(1));
  const auto workers = static_cast<std::size_t>(std::stoi(a.at(2)));
  httplib::Server server;
  server.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
  // An answer's header and body leave at once, not held back until the client acknowledges the
  // header (Nagle's algorithm against the client's delayed acknowledgement, some 40 ms).
  server.set_tcp_nodelay(true);
  server.Get("/v1/health", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"status":"ok"})", "application/json");
  });
  server.Post(R"(/v1/([^/]+)/([^/]+))", [&body](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, "application/json");
  });
  if (!server.listen(kHost, port)) throw std::runtime_error("cannot listen on port " + std::to_string(port));
}

void Load(const ChildArgs& a) {
  const int port = std::stoi(a.at(0));
  const std::string path = a.at(1);
  const std::string request = ReadFile(a.at(2));
  const int clients = std::stoi(a.at(3));
  const int requests = std::stoi(a.at(4));
  const int warmup = std::stoi(a.at(5));

  std::barrier start(clients + 1);
  std::mutex mutex;
  std::vector<double> latencies;  // milliseconds, guarded by mutex
  std::string failure;            // guarded by mutex
  std::size_t responseBytes = 0;  // guarded by mutex
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      httplib::Client client(kHost, port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);  // the request's header and body leave at once
      client.set_read_timeout(30, 0);
      std::vector<double> mine;
      mine.reserve(static_cast<std::size_t>(requests));
      std::string problem;
      std::size_t bytes = 0;
      auto send = [&]() -> bool {
        auto res = client.Post(path, request, "application/json");
        if (!res || res->status != 200) {
          problem = res ? "status " + std::to_string(res->status) + ": " + res->body.substr(0, 300)
                        : "no answer (" + httplib::to_string(res.error()) + ")";
          return false;
        }
        bytes = res->body.size();
        return true;
      };
      for (int i = 0; i < warmup && problem.empty(); ++i) send();
      start.arrive_and_wait();
      for (int i = 0; i < requests && problem.empty(); ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (send()) mine.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      }
      std::lock_guard lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
      if (!problem.empty()) failure = problem;
      responseBytes = bytes;
    });
  }
  start.arrive_and_wait();
  const auto t0 = std::chrono::steady_clock::now();
  for (std::thread& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!failure.empty()) throw std::runtime_error(failure);

  std::sort(latencies.begin(), latencies.end());
  Report("requests_per_second", static_cast<double>(latencies.size()) / seconds);
  Report("p50_ms", Percentile(latencies, 0.50));
  Report("p99_ms", Percentile(latencies, 0.99));
  Report("response_bytes", static_cast<double>(responseBytes));
}

// The keep-alive figure: the host against the baseline server, each with 8 clients.
std::vector<FigureRow> KeepAliveFigures(const Context& ctx, const HttpWork& work) {
  const int clients = 8;
  const int requests = ctx.quick ? 20 : 500;
  const int warmup = ctx.quick ? 2 : 20;
  const std::filesystem::path& db = work.db;
  const std::string& requestFile = work.requestFile;
  const std::string& path = work.path;

  const int systemPort = FreePort();
  BackgroundProcess system(ctx.morvaneExe,
                           {"serve", "--listen", std::string(kHost) + ":" + std::to_string(systemPort), "--allow",
                            ConnectStringOf(db)},
                           (ctx.work / "serve.log").string());
  WaitUntilServing(systemPort, system, "morvane serve");

  // The baseline answers with the very body the system gives.
  httplib::Client probe(kHost, systemPort);
  auto answer = probe.Post(path, ReadFile(requestFile), "application/json");
  if (!answer || answer->status != 200)
    throw std::runtime_error("morvane serve did not answer GetBaseList: " + (answer ? answer->body : "no answer"));
  const std::string bodyFile = (ctx.work / "body.json").string();
  WriteFile(bodyFile, answer->body);

  const int baselinePort = FreePort();
  BackgroundProcess baseline(SelfPath(),
                             {"--child", "http-baseline-server", std::to_string(baselinePort), bodyFile,
                              std::to_string(kWorkers)},
                             (ctx.work / "baseline-server.log").string());
  WaitUntilServing(baselinePort, baseline, "the baseline server");

  auto load = [&](int port) {
    return std::vector<std::string>{"http-load", std::to_string(port), path, requestFile, std::to_string(clients),
                                    std::to_string(requests), std::to_string(warmup)};
  };
  const Sides s = MeasureSides(ctx.runs, load(systemPort), load(baselinePort));
  for (const ChildResult& r : s.baseline)
    if (r.Number("response_bytes") != static_cast<double>(answer->body.size()))
      throw std::runtime_error("the baseline server answered a body of another size");

  const std::string what = "`GetBaseList` over HTTP, " + std::to_string(clients) + " keep-alive clients on loopback";
  std::vector<FigureRow> rows;
  FigureRow rate = Compare(ctx, what + ": requests/s", Median(s.system, "requests_per_second"),
                           Median(s.baseline, "requests_per_second"), "req/s", 0.5, false);
  rate.note = "HTTP: " + FormatNumber(answer->body.size(), 0) + "-byte answer (the demonstration database, " +
              std::to_string(clients) + " clients × " + std::to_string(requests) + " requests per run); `morvane serve` with " +
              std::to_string(kWorkers) + " workers, the baseline with a pool of as many threads and TCP_NODELAY; "
              "the clients set TCP_NODELAY too.";
  rows.push_back(rate);
  for (const auto& [key, label] : {std::pair{"p50_ms", "p50 latency"}, std::pair{"p99_ms", "p99 latency"}}) {
    FigureRow latency;
    latency.what = what + ": " + label;
    latency.system = FormatNumber(Median(s.system, key), 2) + " ms";
    latency.baseline = FormatNumber(Median(s.baseline, key), 2) + " ms";
    latency.ratio = Median(s.system, key) / Median(s.baseline, key);
    latency.target = "reported";
    rows.push_back(latency);
  }
  return rows;
}

}  // namespace

void AddHttpChildren(std::map<std::string, ChildMain>& children) {
  children["http-baseline-server"] = BaselineServer;
  children["http-load"] = Load;
  AddConnectionChildren(children);
}

std::vector<FigureRow> HttpFigures(const Context& ctx) {
  if (!std::filesystem::exists(ctx.morvaneExe)) {
    FigureRow skipped;
    skipped.what = "`GetBaseList` over HTTP";
    skipped.system = skipped.baseline = "—";
    skipped.target = "≥ 0.5×";
    skipped.note = "The HTTP figures were skipped: " + ctx.morvaneExe + " is missing.";
    return {skipped};
  }
  // The demonstration database that `morvane serve` serves by default.
  HttpWork work;
  work.db = ctx.work / "http.db";
  provision::InitDatabase({.path = work.db, .demo = true, .force = true});
  work.requestFile = (ctx.work / "request.json").string();
  WriteFile(work.requestFile, nlohmann::json::array({DsnOf(work.db)}).dump());
  work.path = "/v1/Morvane.VchTempSetInfo/GetBaseList";

  // One after the other, so that the servers of the first have ended before the second starts.
  std::vector<FigureRow> rows = KeepAliveFigures(ctx, work);
  std::vector<FigureRow> more = ConnectionFigures(ctx, work);
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

}  // namespace morvane::bench
