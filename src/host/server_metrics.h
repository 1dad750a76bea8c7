// The network host's metrics, in the Prometheus text exposition format (the answer of
// GET /metrics):
//
//   morvane_requests_total{endpoint, class, member, status}       counter
//   morvane_request_duration_seconds{endpoint, class, member}     histogram, 0.5 ms to 10 s
//   morvane_raised_errors_total{number}                           counter
//   morvane_open_connections, morvane_held_transactions, morvane_workers, morvane_worker_queue,
//   morvane_pooled_connections                                    gauges
//
//   ServerMetrics metrics({.served = servedClasses, .workers = 8,
//                          .heldTransactions = [&held] { return held.size(); }});
//   metrics.CountCall(progId, member, 200, 0.0031);        // the path's texts, as sent
//   metrics.CountRequest(Endpoint::Health, 200, 0.0001);
//   std::string text = metrics.Text();
//
// No text a client sends becomes a label value: a call's class and member are labelled only when
// they name a served class and one of its members, and then with the names the class declares
// (so "morvane.vchtempsetinfo" and the class identifier count as the ProgID); anything else is
// "-". Error numbers are labelled up to 256 distinct ones, the rest as "other". The number of
// series is bounded by the served classes, whatever the clients send.
//
// Thread rules: every member may be called from any thread at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation/type_info.h"

namespace morvane::host {

// The content type of Text().
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// What a request that is not a call asked for: its "endpoint" label.
enum class Endpoint {
  Call,                 // POST /v1/{ProgID}/{Method} (counted by CountCall)
  BeginTransaction,     // POST /v1/transactions
  CommitTransaction,    // POST /v1/transactions/{id}/commit
  AbortTransaction,     // POST /v1/transactions/{id}/abort
  Health,               // GET /v1/health
  Ready,                // GET /v1/ready
  Classes,              // GET /v1/classes
  Metrics,              // GET /metrics
  Other,                // no endpoint: unknown paths and methods, requests cut before their end
};

struct ServerMetricsOptions {
  // The classes the host serves: their ProgIDs and members are the only class and member labels.
  // The names are copied; the pointers need not outlive the metrics.
  std::vector<const automation::TypeInfo*> served{};
  int workers = 0;  // the configured worker threads (morvane_workers)
  // Read each time the text is made, on the thread that asks for it; must be safe to call from
  // any thread. Empty: the gauge stays 0.
  std::function<std::size_t()> heldTransactions{};  // morvane_held_transactions
  std::function<std::size_t()> workerQueue{};       // morvane_worker_queue: requests waiting for a worker
};

class ServerMetrics {
 public:
  explicit ServerMetrics(ServerMetricsOptions options);
  ~ServerMetrics();
  ServerMetrics(const ServerMetrics&) = delete;
  ServerMetrics& operator=(const ServerMetrics&) = delete;

  // One call answered with `status` after `seconds`; progId and member are the path's texts as
  // the client sent them (endpoint "call"; class and member "-" unless served, see above).
  void CountCall(std::string_view progId, std::string_view member, int status, double seconds);
  // One request that is not a call (class and member "-"). Endpoint::Call counts as a call of
  // no served class.
  void CountRequest(Endpoint endpoint, int status, double seconds);

  // A client connection accepted and one ended (morvane_open_connections).
  void ConnectionOpened();
  void ConnectionClosed();

  // An error a call raised (a 422 answer, a failed commit), by its number.
  void CountRaisedError(std::int32_t number);

  // The whole exposition, every metric family with its HELP and TYPE lines; the gauges read
  // from their sources (and the data-access pool's idle connections) now.
  std::string Text() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace morvane::host
