#include "host/readiness.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "host/server_access_log.h"
#include "platform/automation/error.h"
#include "platform/db/provider.h"

namespace morvane::host {

namespace {

namespace errors = automation::errors;

using Clock = std::chrono::steady_clock;

// Reads no row, but only where the settings table exists (every product's schema creates it).
constexpr std::string_view kProbeStatement = "SELECT 1 FROM CB_CostVchTempSet WHERE 1 = 0";

DatabaseProbe Failed(const std::string& name, std::int32_t number, std::string_view source, std::string_view error) {
  return DatabaseProbe{name, false, number, std::string(source), MaskPasswords(error)};
}

// Opens a new connection on the string and runs the probe statement on it. Never throws.
DatabaseProbe Probe(const std::string& connectString, const std::string& name) {
  try {
    const std::unique_ptr<db::PhysicalConnection> connection = db::ProviderFor(connectString).Connect(connectString);
    connection->Execute(kProbeStatement, {});
    return DatabaseProbe{name, true, 0, {}, {}};
  } catch (const automation::Error& e) {
    return Failed(name, e.Number(), e.Source(), e.Description());
  } catch (const std::exception& e) {
    return Failed(name, errors::kInternalError, automation::kDefaultSource, e.what());
  } catch (...) {
    return Failed(name, errors::kInternalError, automation::kDefaultSource, "an unknown exception");
  }
}

}  // namespace

// One database and its probe thread: at most one probe runs at a time, and every check that
// comes while it runs waits for its outcome.
struct ReadinessCheck::Database {
  explicit Database(std::string text) : connectString(std::move(text)), name(MaskPasswords(connectString)) {}

  // Starts a probe unless one is running; returns the number `finished` reaches when the probe
  // that the caller waits for has ended, or nullopt when no thread could be started.
  std::optional<std::uint64_t> Start() {
    std::lock_guard lock(mutex);
    if (!running) {
      if (thread.joinable()) thread.join();  // has ended: it cleared `running`
      try {
        thread = std::thread([this] { Finish(Probe(connectString, name)); });
      } catch (const std::system_error&) {
        return std::nullopt;
      }
      running = true;
    }
    return finished + 1;
  }

  void Finish(DatabaseProbe probe) {
    std::lock_guard lock(mutex);
    last = std::move(probe);
    ++finished;
    running = false;
    ended.notify_all();
  }

  // The outcome of probe `run` (or of a later one), or nullopt when none has ended by `deadline`.
  std::optional<DatabaseProbe> Wait(std::uint64_t run, Clock::time_point deadline) {
    std::unique_lock lock(mutex);
    if (!ended.wait_until(lock, deadline, [&] { return finished >= run; })) return std::nullopt;
    return last;
  }

  const std::string connectString;
  const std::string name;
  std::mutex mutex;
  std::condition_variable ended;  // with mutex: a probe has finished
  std::thread thread;             // guarded by mutex: the latest probe's
  bool running = false;           // guarded by mutex
  std::uint64_t finished = 0;     // guarded by mutex: probes ended so far
  DatabaseProbe last;             // guarded by mutex: the latest ended probe's outcome
};

ReadinessCheck::ReadinessCheck(std::vector<std::string> connectStrings, std::chrono::milliseconds timeout)
    : timeout_(timeout) {
  for (std::string& connectString : connectStrings)
    databases_.push_back(std::make_unique<Database>(std::move(connectString)));
}

ReadinessCheck::~ReadinessCheck() {
  for (const auto& database : databases_) {
    std::thread thread;
    {
      std::lock_guard lock(database->mutex);
      thread = std::move(database->thread);
    }
    if (thread.joinable()) thread.join();
  }
}

ReadinessResult ReadinessCheck::Run() {
  const Clock::time_point deadline = Clock::now() + timeout_;
  std::vector<std::optional<std::uint64_t>> runs;
  for (const auto& database : databases_) runs.push_back(database->Start());

  ReadinessResult result;
  result.ready = true;
  for (std::size_t i = 0; i < databases_.size(); ++i) {
    Database& database = *databases_[i];
    std::optional<DatabaseProbe> probe;
    if (!runs[i]) {
      probe = Failed(database.name, errors::kInternalError, automation::kDefaultSource,
                     "the probe could not be started: no thread is available");
    } else if (!(probe = database.Wait(*runs[i], deadline))) {
      probe = Failed(database.name, errors::kInternalError, automation::kDefaultSource,
                     "the database did not answer within " + std::to_string(timeout_.count()) + " ms");
    }
    result.ready = result.ready && probe->ok;
    result.probes.push_back(std::move(*probe));
  }
  return result;
}

ReadinessAnswer ReadinessAnswerFor(const ReadinessResult& result) {
  if (result.ready) {
    call::Json databases = call::Json::array();
    for (const DatabaseProbe& probe : result.probes) databases.push_back({{"name", probe.name}, {"ok", true}});
    return {200, call::Json{{"status", "ready"}, {"databases", std::move(databases)}}};
  }
  const DatabaseProbe* first = nullptr;
  std::string description = "not ready:";
  for (const DatabaseProbe& probe : result.probes) {
    if (probe.ok) continue;
    if (first == nullptr) first = &probe;
    description += " the database " + probe.name + " cannot be used: " + probe.error + ";";
  }
  if (first == nullptr) description += " no database was probed;";
  description.pop_back();
  const automation::Error error(first ? first->number : errors::kInternalError,
                                first ? first->source : std::string(automation::kDefaultSource), description);
  return {503, call::Json{{"error", call::ErrorToJson(error)}}};
}

}  // namespace morvane::host
