// The network host: the component's calls over HTTP with JSON bodies.
//
//   POST /v1/{ProgID}/{Method}          body: the arguments (JSON array or object; empty: none)
//        200 {"result": ...}             422 {"error": {...}} raised by the call
//        400 malformed request           403 connection string not allowed
//        404 unknown class or member, or unknown transaction named by "Transaction: ID"
//   POST /v1/transactions               200 {"id": "..."}; 429 over the caps of held transactions
//   POST /v1/transactions/{id}/commit   200 {"id", "state": "committed"}; 409 when a vote doomed it
//   POST /v1/transactions/{id}/abort    200 {"id", "state": "aborted"}
//   GET  /v1/health                     200 {"status": "ok"} (never asks for the token)
//   GET  /v1/ready                      200 when every allowed database opens; 503 naming one that fails
//   GET  /v1/classes                    the served classes with their members and parameters
//   GET  /metrics                       the metrics in the Prometheus text format
//
// Every answer other than 200 is {"error": {number, hresult, source, description,
// helpFile}}. With a token configured every request but GET /v1/health needs "Authorization:
// Bearer TOKEN" (401). The HTTP server (host/http_server.h) reads every connection on one
// network thread and runs each call on a worker of the pool, with an object of its own
// (call/late_call.h); a call that names a held transaction runs inside it, one call of a
// transaction at a time, and waits for its turn at most the request timeout (409). One
// access-log line per request goes to the log (server_access_log.h).
//
//   Server server({.config = config});
//   int port = server.Bind();
//   std::thread t([&] { server.Run(); });
//   ...
//   server.Stop();
//   t.join();
//
// Thread rules: Bind and Run are called once each, in that order, by the owner; Stop may be
// called from any thread (not from a signal handler) at any time, before Run included, and makes
// Run return once the requests in progress have been answered. The owner joins Run's thread
// before the Server ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/http_server.h"
#include "host/server_config.h"
#include "platform/automation/type_info.h"

namespace morvane::host {

struct ServerOptions {
  HostConfig config;
  // Where the access log and the host's notices go, one line per call (no line end). Empty:
  // standard error. Called from the worker threads; the server serialises the calls.
  std::function<void(std::string_view line)> log;
  // Which registered classes the host serves. Empty: the component's own public classes (its
  // type library); the platform's and the suite's classes (the shared property manager, the
  // resource loader ...) are not for network callers.
  std::function<bool(const automation::TypeInfo&)> serves;
};

class Server {
 public:
  // Raises HostConfigError when an allowed connection string cannot be used.
  explicit Server(ServerOptions options);
  // Stops serving and aborts the transactions still held. REQUIRES: Run has returned (or never
  // ran).
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the listening socket and returns its port (the chosen one when the configuration says
  // port 0). An address that another socket listens on is refused (no SO_REUSEPORT, so two hosts
  // never share one port). Raises ListenError when the address cannot be bound.
  int Bind();
  // Serves until Stop, then returns true (a failed accept is retried, not fatal).
  bool Run();
  void Stop();

  const HostConfig& config() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A ready command line that calls GetBaseList of the host at `listen` with `sDsn`; with a token,
// it sends the header with "$MORVANE_TOKEN" in place of the token itself; with `tls`, over HTTPS
// trusting the host's own certificate (curl takes a certificate that is not a CA's as the anchor).
std::string CurlExample(const ListenAddress& listen, std::string_view sDsn, bool withToken,
                        const std::optional<TlsFiles>& tls = std::nullopt);

}  // namespace morvane::host
