#include "bench_idle_connections.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

namespace morvane::bench {

namespace {

// Connections set up at a time when the listen queue cannot be read: within any backlog a
// server of connections is likely to have (asio and most servers ask for SOMAXCONN).
constexpr std::size_t kBlindWindow = 64;
// More at once gains nothing and makes a long poll list.
constexpr std::size_t kMaxWindow = 512;

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  return addr;
}

// An attempt that the server's side or the local stack turned away for now.
bool WorthRetrying(int error) {
  return error == ECONNREFUSED || error == EAGAIN || error == EADDRNOTAVAIL || error == ENOBUFS ||
         error == ETIMEDOUT || error == ECONNRESET || error == EINTR;
}

void Reset(int fd) {
  const linger abort{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  ::close(fd);
}

}  // namespace

std::size_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<std::size_t>(limit.rlim_cur);
}

std::optional<ListenQueue> ListenQueueOf(int port) {
  const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return std::nullopt;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = 1u << TCP_LISTEN;  // listening sockets only: a short answer
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    ::close(fd);
    return std::nullopt;
  }
  std::optional<ListenQueue> found;
  alignas(nlmsghdr) char buffer[16384];
  for (bool done = false; !done;) {
    ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
    if (length <= 0) break;
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, length); h = NLMSG_NEXT(h, length)) {
      if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
        done = true;
        break;
      }
      const auto* socket = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
      if (ntohs(socket->id.idiag_sport) == port)
        found = ListenQueue{socket->idiag_rqueue, socket->idiag_wqueue};
    }
  }
  ::close(fd);
  return found;
}

IdleConnections::~IdleConnections() {
  for (int fd : fds_) Reset(fd);
}

std::size_t IdleConnections::Open(std::size_t count, Clock::time_point deadline) {
  const sockaddr_in addr = LoopbackAddress(port_);
  std::vector<pollfd> connecting;
  while (fds_.size() < count && Clock::now() < deadline) {
    const std::size_t missing = count - fds_.size() - connecting.size();
    // The kernel queues one connection beyond the backlog (it refuses when more than the backlog
    // wait); those still in their handshake take room too.
    std::size_t room = kBlindWindow;
    if (auto queue = ListenQueueOf(port_)) {
      const std::size_t used = queue->waiting + connecting.size();
      room = queue->backlog + 1 > used ? queue->backlog + 1 - used : 0;
    } else {
      room = connecting.size() < kBlindWindow ? kBlindWindow - connecting.size() : 0;
    }
    room = std::min({room, missing, kMaxWindow});
    bool turnedAway = false;
    for (std::size_t i = 0; i < room; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0)
        throw std::runtime_error("cannot make socket " + std::to_string(fds_.size() + connecting.size() + 1) + ": " +
                                 std::strerror(errno));
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        fds_.push_back(fd);
      } else if (errno == EINPROGRESS) {
        connecting.push_back(pollfd{fd, POLLOUT, 0});
      } else {
        const int error = errno;
        ::close(fd);
        if (!WorthRetrying(error)) throw std::runtime_error(std::string("connect: ") + std::strerror(error));
        ++retries_;
        turnedAway = true;
        break;
      }
    }
    if (connecting.empty()) {
      // Nothing in flight: the queue is full or an attempt was turned away; let the server catch up.
      if (room == 0 || turnedAway) std::this_thread::sleep_for(std::chrono::microseconds(turnedAway ? 2000 : 200));
      continue;
    }
    if (::poll(connecting.data(), connecting.size(), 1) < 0 && errno != EINTR)
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    std::erase_if(connecting, [this](const pollfd& p) {
      if (p.revents == 0) return false;
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error == 0) {
        fds_.push_back(p.fd);
      } else {
        ::close(p.fd);
        ++retries_;
      }
      return true;
    });
  }
  for (const pollfd& p : connecting) ::close(p.fd);
  return fds_.size();
}

bool IdleConnections::WaitAccepted(Clock::time_point deadline) const {
  for (;;) {
    const auto queue = ListenQueueOf(port_);
    if (!queue || queue->waiting == 0) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::size_t IdleConnections::CountOpen() const {
  std::vector<pollfd> all;
  all.reserve(fds_.size());
  for (int fd : fds_) all.push_back(pollfd{fd, POLLIN | POLLRDHUP, 0});
  if (::poll(all.data(), all.size(), 0) < 0) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
  return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), [](const pollfd& p) { return p.revents == 0; }));
}

}  // namespace morvane::bench
