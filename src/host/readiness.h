// The readiness check behind GET /v1/ready: can the host open each database it may open?
//
//   ReadinessCheck check(config.allow);
//   ReadinessAnswer answer = ReadinessAnswerFor(check.Run());
//   // answer.status: 200 {"status": "ready", "databases": [...]}, or 503 {"error": {...}}
//
// Each probe opens a new connection through the database's provider, not through the pool: an
// idle pooled connection keeps working on a SQLite file that has been deleted, a new one does
// not (the SQLite provider never creates a file). It then reads the settings table, which proves
// the database holds the component's tables; the read needs no write lock, so a writer holding
// the database does not delay it. A probe that does not answer within the timeout (a server that
// does not answer, a lock held by another process) is reported as failing, and goes on in the
// background; while it runs, later checks wait for it rather than start another, so a database
// that hangs never holds more than one thread.
//
// Thread rules: Run may be called from any thread at once; concurrent runs share the probes in
// progress. The destructor waits for probes still running.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "call/json_form.h"

namespace morvane::host {

struct DatabaseProbe {
  std::string name;         // the connection string, passwords masked
  bool ok = false;
  std::int32_t number = 0;  // the failure's error number (0 when ok)
  std::string source;       // and its source
  std::string error;        // its description, passwords masked ("" when ok)
};

struct ReadinessResult {
  bool ready = false;  // every probe ok (also when there is no database to probe)
  std::vector<DatabaseProbe> probes;  // in the order of the connection strings
};

class ReadinessCheck {
 public:
  static constexpr std::chrono::milliseconds kDefaultTimeout{2000};

  // The databases to probe: the host's allowed connection strings.
  explicit ReadinessCheck(std::vector<std::string> connectStrings,
                          std::chrono::milliseconds timeout = kDefaultTimeout);
  // Waits for the probes still running (each ends with its provider's own timeouts).
  ~ReadinessCheck();
  ReadinessCheck(const ReadinessCheck&) = delete;
  ReadinessCheck& operator=(const ReadinessCheck&) = delete;

  // Probes every database at once and returns within the timeout. Never throws.
  ReadinessResult Run();

 private:
  struct Database;
  std::vector<std::unique_ptr<Database>> databases_;
  const std::chrono::milliseconds timeout_;
};

// The answer to GET /v1/ready.
struct ReadinessAnswer {
  int status = 0;
  call::Json body;
};

// 200 {"status": "ready", "databases": [{"name", "ok": true}, ...]} when ready; otherwise 503
// with the error body {"error": {number, hresult, source, description, helpFile}}: the number and
// source of the first failing database's error, and a description naming every failing database
// with its error.
ReadinessAnswer ReadinessAnswerFor(const ReadinessResult& result);

}  // namespace morvane::host
