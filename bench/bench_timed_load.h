// A load of keep-alive clients for a fixed time, with a health probe beside it, for the
// connection figures. `clients` threads, each with one keep-alive connection, send `warmup`
// requests, wait for each other, then send requests for `seconds`; meanwhile the probe opens a
// new connection every `probeEvery` and asks GET /v1/health, as a load balancer's liveness
// check does, so that it also measures how soon the server accepts a connection.
//
// A thread per client, 500 of them too, rather than an event-driven load generator such as wrk:
// every row compares two loads of this same client code, so its own cost falls alike on both
// sides of a ratio, and a request's latency is measured where it is sent, with the timeouts
// and failure reports the rows need; 500 mostly sleeping threads cost a client on loopback
// little beside the server's work.
//
// A load of a fixed time rather than a fixed number of requests per client: with hundreds of
// clients those that finish early would leave the last few alone on the server and the figure
// would measure the stragglers. Every connect, write and read has a timeout, so that a server
// that cannot keep up ends the load with a failure instead of hanging it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace morvane::bench {

struct TimedLoadOptions {
  int port = 0;                                 // on 127.0.0.1
  std::string path;                             // POSTed to
  std::string request;                          // the body of every request (JSON)
  int clients = 8;
  int warmup = 5;                               // requests per client before the timed phase
  double seconds = 3;                           // length of the timed phase
  int timeoutSeconds = 10;                      // of every connect, write and read
  std::chrono::milliseconds probeEvery{5};      // from the start of one probe to the next
};

struct TimedLoadResult {
  std::size_t requests = 0;         // answered with 200 in the timed phase
  double seconds = 0;               // from the start of the timed phase until every client stopped
  std::vector<double> latenciesMs;  // of those requests, sorted
  std::vector<double> probesMs;     // of every probe, failed ones included (as long as they took), sorted
  std::size_t probeFailures = 0;    // probes without a 200 answer
  std::size_t responseBytes = 0;    // of the last answer
  std::string failure;              // why a client stopped early (no answer, a status other than 200); empty when none did
};

// Runs the load against a server that is already serving. Problems of the server are reported
// in the result, not thrown.
TimedLoadResult RunTimedLoad(const TimedLoadOptions& load);

}  // namespace morvane::bench
