// The HTTP side of the network host: an event-driven HTTP/1.1 server on Boost.Beast and
// Boost.Asio, plain or TLS (OpenSSL).
//
// One thread (the one that calls Run) reads and writes every connection; a connection that sends
// nothing costs a socket and a timer, not a thread. A request whose handler may block (it calls
// the component or opens a database) runs on a fixed pool of worker threads; the others are
// answered on the network thread at once, so that a liveness probe is answered while every worker
// is busy.
//
// Limits, each request on its own:
//   - a connection silent for `firstByteTimeout` before a request's first byte (also between the
//     requests of a kept-alive connection) is closed without an answer;
//   - a request not read to its end within `requestTimeout` of its first byte is answered 408,
//     and an answer not taken within `requestTimeout` is cut;
//   - a body over `maxBodyBytes` is answered 413 (one up to twice as large is read and thrown
//     away first, so that a client that sends before it reads gets the answer);
//   - a client address with `maxConnectionsPerClient` connections open has a further one answered
//     429 and closed.
// After an answer to a request that was not read to its end, or that asked for it, the connection
// closes; otherwise it is kept alive for the next request.
//
// Thread rules: Bind, then Run, once each, by the owner; Stop from any thread at any time (also
// before Run), which makes Run return once the requests in progress have been answered. The hooks
// are called on the network thread, but for `handle` of a request that `runsOnWorker` claims,
// which is called on a worker.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "host/http_message.h"
#include "host/server_config.h"

namespace morvane::host {

// The listening socket could not be made: the address is in use (by another host, say) or is
// not one of this machine's. what() is one line: "cannot listen on ADDR: address already in use".
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpLimits {
  std::chrono::milliseconds firstByteTimeout{5000};
  std::chrono::milliseconds requestTimeout{10000};
  std::size_t maxBodyBytes = 4u << 20;
  std::size_t maxHeaderBytes = 64u << 10;  // request line and headers
  std::size_t maxConnectionsPerClient = 1024;
  int workers = 8;
};

// What the server knows of one exchange when it logs it.
struct ExchangeRecord {
  std::chrono::system_clock::time_point startedAt;
  std::chrono::steady_clock::duration duration{};
  std::string remote;
  const HttpRequest* request = nullptr;  // null when no request line could be read
  const HttpResponse* response = nullptr;
  std::string note;  // for an exchange without a request, or one cut: what happened
};

struct HttpHooks {
  // Answers a request that was read whole.
  std::function<void(HttpRequest&, HttpResponse&)> handle;
  // True for a request whose handling may block, so that it goes to a worker.
  std::function<bool(const HttpRequest&)> runsOnWorker;
  // For a request that asks "Expect: 100-continue": an answer that refuses it before its body is
  // sent (the connection then closes), or nullopt to let the client go on.
  std::function<std::optional<HttpResponse>(const HttpRequest&)> beforeContinue;
  // Each answer written (or cut), once.
  std::function<void(const ExchangeRecord&)> logged;
  // Connections opened and closed, for the metrics.
  std::function<void(int change)> connections;
};

class HttpServer {
 public:
  // `tls`: the certificate chain and private key in PEM; with them the server speaks only HTTPS.
  // Raises HostConfigError when they cannot be loaded.
  HttpServer(HttpLimits limits, HttpHooks hooks, const std::optional<TlsFiles>& tls);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds and listens; returns the port. Raises ListenError (host/server.h) when it cannot.
  int Bind(const ListenAddress& address);
  // Serves until Stop.
  void Run();
  void Stop();

  // Calls waiting for a worker.
  std::size_t QueuedCalls() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace morvane::host
