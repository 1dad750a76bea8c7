#include "host/server_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace morvane::host {

namespace {

using Clock = std::chrono::steady_clock;

thread_local Exchange* t_exchange = nullptr;

// How long the keep-alive wait sleeps at most before it looks whether the server stops.
constexpr std::chrono::milliseconds kStopPollInterval{100};

// Waits until the socket is ready for `events` or the deadline passes; true when ready (or
// when the peer hung up, which the following read or write then reports).
bool WaitUntil(int sock, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fd{sock, events, 0};
    const int n = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 60'000)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

void AddressText(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    port = ntohs(in.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
  }
  ip = text;
}

// The stream of one connection: reads through a buffer of its own, each request with a deadline
// and a byte budget, and writes with a deadline for each answer.
class ConnectionStream final : public httplib::Stream {
 public:
  ConnectionStream(socket_t sock, const RequestLimits& limits) : sock_(sock), limits_(limits) {}

  // Starts the clock and the budget of a new request.
  void BeginRequest() {
    readDeadline_ = Clock::now() + limits_.timeout;
    writeDeadline_.reset();
    budget_ = limits_.maxBytes;
    timedOut_ = false;
    overLimit_ = false;
  }

  // Waits for the next request on a kept-alive connection: true when bytes (or the end of the
  // connection) arrived within `idle`; false when the wait ran out or `stopping` said so.
  template <class Stopping>
  bool WaitForRequest(std::chrono::seconds idle, Stopping stopping) {
    if (pos_ < end_) return true;
    const auto until = Clock::now() + idle;
    while (!stopping()) {
      const auto now = Clock::now();
      if (now >= until) return false;
      if (WaitUntil(sock_, POLLIN, std::min(until, now + kStopPollInterval))) return true;
    }
    return false;
  }

  bool timedOut() const { return timedOut_; }
  bool overLimit() const { return overLimit_; }

  bool is_readable() const override {
    if (pos_ < end_) return true;
    if (!WaitUntil(sock_, POLLIN, readDeadline_)) {
      MarkTimedOut();
      return false;
    }
    return true;
  }

  bool is_writable() const override {
    if (!writeDeadline_) writeDeadline_ = Clock::now() + limits_.timeout;
    if (!WaitUntil(sock_, POLLOUT, *writeDeadline_)) {
      MarkTimedOut();
      return false;
    }
    return true;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (pos_ == end_) {
      if (budget_ == 0) {
        overLimit_ = true;
        if (t_exchange != nullptr) t_exchange->overLimit = true;
        return -1;
      }
      if (!is_readable()) return -1;
      ssize_t n;
      do {
        n = ::recv(sock_, buffer_, std::min(sizeof buffer_, budget_), 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      pos_ = 0;
      end_ = static_cast<std::size_t>(n);
      budget_ -= end_;
    }
    const std::size_t count = std::min(size, end_ - pos_);
    std::memcpy(ptr, buffer_ + pos_, count);
    pos_ += count;
    return static_cast<ssize_t>(count);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressText(address, ip, port);
  }

  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) AddressText(address, ip, port);
  }

  socket_t socket() const override { return sock_; }

 private:
  // The handlers learn of it through the exchange, to answer 408 rather than 400.
  void MarkTimedOut() const {
    timedOut_ = true;
    if (t_exchange != nullptr) t_exchange->timedOut = true;
  }

  const socket_t sock_;
  const RequestLimits limits_;
  char buffer_[16 * 1024];
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::size_t budget_ = 0;
  Clock::time_point readDeadline_;
  mutable std::optional<Clock::time_point> writeDeadline_;
  mutable bool timedOut_ = false;
  bool overLimit_ = false;
};

}  // namespace

HttpServer::HttpServer(RequestLimits limits) : limits_(limits) {}

HttpServer::~HttpServer() {
  const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
  if (sock != INVALID_SOCKET && !is_running()) ::close(sock);
}

Exchange* HttpServer::CurrentExchange() { return t_exchange; }

void HttpServer::CloseAfterAnswer() {
  Exchange* exchange = t_exchange;
  if (exchange == nullptr) return;
  exchange->closeAfterAnswer = true;
  // The answer says so too: write_response adds "Connection: close" for such a request.
  if (exchange->request != nullptr) {
    exchange->request->headers.erase("Connection");
    exchange->request->headers.emplace("Connection", "close");
  }
}

bool HttpServer::process_and_close_socket(socket_t sock) {
  ConnectionStream stream(sock, limits_);
  std::string remoteIp;
  int remotePort = 0;
  stream.get_remote_ip_and_port(remoteIp, remotePort);
  const std::string remote = remoteIp.find(':') != std::string::npos
                                 ? "[" + remoteIp + "]:" + std::to_string(remotePort)
                                 : remoteIp + ":" + std::to_string(remotePort);

  bool ok = false;
  std::size_t left = keep_alive_max_count_;
  const auto stopping = [this] { return svr_sock_ == INVALID_SOCKET; };
  while (left > 0 && stream.WaitForRequest(std::chrono::seconds(keep_alive_timeout_sec_), stopping)) {
    Exchange exchange;
    exchange.started = Clock::now();
    exchange.startedAt = std::chrono::system_clock::now();
    exchange.remote = remote;
    stream.BeginRequest();
    t_exchange = &exchange;
    bool connectionClosed = false;
    try {
      ok = process_request(stream, left == 1, connectionClosed,
                           [&exchange](httplib::Request& request) { exchange.request = &request; });
    } catch (...) {
      // The library's request handling does not throw past its exception handler; should it,
      // the connection ends here rather than the worker thread.
      ok = false;
    }
    exchange.timedOut = exchange.timedOut || stream.timedOut();
    exchange.overLimit = stream.overLimit();
    // A request whose line or headers could not be read leaves the connection at an unknown place.
    const bool headersRead = exchange.request != nullptr;
    exchange.request = nullptr;
    t_exchange = nullptr;
    if (!exchange.answered && (exchange.timedOut || exchange.overLimit) && onCut) onCut(exchange);
    if (!ok || !headersRead || connectionClosed || exchange.closeAfterAnswer || exchange.timedOut ||
        exchange.overLimit)
      break;
    --left;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace morvane::host
