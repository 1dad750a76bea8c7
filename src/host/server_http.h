// The HTTP side of the network host: cpp-httplib's server with a connection loop of its own.
//
// The library's loop times out one read at a time, so a client that sends one byte a second
// holds a worker thread for as long as it likes. Here every request has a deadline as a whole
// (RequestLimits::timeout, from its first byte until it is read; the answer has as long again)
// and a bound on the bytes it may send, and a connection whose request was not read to its end
// (refused before its body, cut at the deadline) is closed after the answer instead of being
// read on as if the rest were the next request. Requests of one connection are served one after
// the other on one worker thread of the pool.
//
// Thread rules: handlers run on the pool's threads; CurrentExchange() is the state of the
// request that the calling thread serves, valid from the start of the request until its answer
// has been written (the logger runs inside it).
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace morvane::host {

struct RequestLimits {
  std::chrono::milliseconds timeout{10000};  // to send one request; again to take its answer
  std::size_t maxBytes = 8u << 20;           // request line, headers and body together
};

// What the connection loop and the handlers know of the request served on this thread.
struct Exchange {
  std::chrono::steady_clock::time_point started;
  std::chrono::system_clock::time_point startedAt;
  std::string remote;                   // "127.0.0.1:51234"
  httplib::Request* request = nullptr;  // once the request line and headers are read
  bool timedOut = false;                // a read or write ran past the deadline
  bool overLimit = false;               // the client sent more than RequestLimits::maxBytes
  bool closeAfterAnswer = false;        // the request was not read to its end
  bool answered = false;                // the answer has been written (and logged)
  std::int32_t errorNumber = 0;         // of the error answered, for the log
  std::string transaction;              // short id of the transaction named, for the log
};

class HttpServer : public httplib::Server {
 public:
  explicit HttpServer(RequestLimits limits);
  // Closes a listening socket that was bound but never served.
  ~HttpServer() override;

  // The request the calling thread serves, or nullptr outside one.
  static Exchange* CurrentExchange();

  // Closes the connection once the current answer is written: the request's body was not read
  // to its end, so what follows on the connection is not a request. No effect outside a request.
  static void CloseAfterAnswer();

  // Called (on the worker thread) for a request that ended without an answer because the client
  // was too slow or sent too much; the connection is closed right after.
  std::function<void(const Exchange&)> onCut;

 private:
  bool process_and_close_socket(socket_t sock) override;

  const RequestLimits limits_;
};

}  // namespace morvane::host
