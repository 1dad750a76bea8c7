// The connection figures of the HTTP group: how `morvane serve` copes with many connections.
// Against the same host, the same 8 keep-alive clients calling GetBaseList alone, with 10,000
// idle connections held open, and 500 keep-alive clients instead of 8, each for a fixed time
// with a health probe beside it. Child:
//   http-connections PORT PATH REQUESTFILE CLIENTS IDLE SECONDS TIMEOUT
//       opens IDLE connections that send nothing, then runs the timed load of CLIENTS clients
//       for SECONDS (bench_timed_load.h) with every connect and read limited to TIMEOUT
//       seconds, then counts the idle connections still open; reports requests_per_second,
//       p50_ms, p99_ms, health_p99_ms, idle_opened, idle_open_at_end ..., and failure=WHY when
//       the load could not finish. It never runs longer than 6 × TIMEOUT seconds.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "bench_children.h"
#include "bench_figures.h"
#include "bench_http_support.h"

namespace morvane::bench {

void AddConnectionChildren(std::map<std::string, ChildMain>& children);

// Starts a host of its own on the work's database and returns the rows. A measurement that
// fails gives a row saying so, not an exception; the exceptions are those of the setup.
std::vector<FigureRow> ConnectionFigures(const Context& ctx, const HttpWork& work);

}  // namespace morvane::bench
