// What the HTTP figures share: the files their children read, a free port, waiting for a server
// to answer, and percentiles of latencies. Setup only; nothing here is timed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench_process.h"

namespace morvane::bench {

// The address every server of the HTTP figures listens on.
inline constexpr const char* kLoopback = "127.0.0.1";

// What every HTTP figure calls: GetBaseList on the demonstration database.
struct HttpWork {
  std::filesystem::path db;  // the database `morvane serve` is allowed to open
  std::string requestFile;   // the request's JSON body (the sDsn of db)
  std::string path;          // "/v1/Morvane.VchTempSetInfo/GetBaseList"
};

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces a file by `text`; throws std::runtime_error.
void WriteFile(const std::string& path, const std::string& text);

// A port nothing listens on now (the kernel's choice for port 0).
int FreePort();

// Waits until GET /v1/health on the port answers 200 (at most 15 seconds). Throws
// std::runtime_error naming `what` when the process ends first or the time runs out.
void WaitUntilServing(int port, BackgroundProcess& process, const std::string& what);

// The value below which the fraction `p` of the sorted values lies (nearest rank); 0 when there
// are none.
double Percentile(const std::vector<double>& sorted, double p);

}  // namespace morvane::bench
