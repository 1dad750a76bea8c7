// Idle connections for the connection figures: TCP connections to a server on loopback that
// send nothing. They are opened without overrunning the server's listen backlog (a connection
// the kernel cannot queue costs a SYN retransmission, a second or more), checked at the end for
// having been closed by the server, and reset rather than closed when dropped, so that ten
// thousand of them leave no TIME_WAIT entries behind to use up the ephemeral ports of the next
// run.
//
// Thread rules: an IdleConnections belongs to one thread; the free functions may be called from
// any.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace morvane::bench {

// Raises this process's soft limit of open files to its hard limit; returns the soft limit in
// force afterwards.
std::size_t RaiseOpenFileLimit();

// The accept queue of a TCP socket listening on a port of 127.0.0.1, as the kernel's socket
// diagnostics give it (what `ss -lnt` shows as Recv-Q and Send-Q).
struct ListenQueue {
  unsigned waiting = 0;  // connections established and not yet accepted by the server
  unsigned backlog = 0;  // how many the queue takes (the server's backlog, capped by somaxconn)
};
// Nothing when no socket listens there or the diagnostics cannot be read.
std::optional<ListenQueue> ListenQueueOf(int port);

class IdleConnections {
 public:
  using Clock = std::chrono::steady_clock;

  explicit IdleConnections(int port) : port_(port) {}
  ~IdleConnections();  // resets every connection (SO_LINGER 0)
  IdleConnections(const IdleConnections&) = delete;
  IdleConnections& operator=(const IdleConnections&) = delete;

  // Opens connections until `count` are established or the deadline passes; returns how many
  // are. No more are being set up at a time than the listen queue has room for (64 when it
  // cannot be read); an attempt that is refused or fails is retried. Throws std::runtime_error
  // when a socket cannot be made (the open-file limit) or connect fails otherwise.
  std::size_t Open(std::size_t count, Clock::time_point deadline);

  // Waits until the server has taken every established connection off its listen queue; false
  // when the deadline passed first. True when the queue cannot be read.
  bool WaitAccepted(Clock::time_point deadline) const;

  // How many are still open: the server has neither closed them nor written to them.
  std::size_t CountOpen() const;

  std::size_t size() const { return fds_.size(); }
  // Attempts that were refused or failed and made again.
  std::size_t retries() const { return retries_; }

 private:
  int port_;
  std::vector<int> fds_;  // established connections
  std::size_t retries_ = 0;
};

}  // namespace morvane::bench
