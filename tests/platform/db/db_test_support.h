// Helpers of the data-access tests: a temporary SQLite database made with the library itself
// (the provider never creates files), a provider that forwards to the SQLite provider while
// recording what runs through it, and the shared helpers (errors raised, provider override)
// under the names the tests use.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/convert.h"
#include "platform/automation/error.h"
#include "platform/db/provider.h"
#include "platform/db/sqlite/sqlite_provider.h"
#include "testing/forwarding_provider.h"
#include "testing/provider_override.h"
#include "testing/raised.h"
#include "testing/temp_folder.h"

namespace morvane::db::testing {

// A fresh directory with a database file "test.db" in it, made by running `schema`; removed
// with everything in it when the object ends.
class TempDatabase {
 public:
  explicit TempDatabase(const std::string& schema = {}, const std::string& options = {})
      : path_((folder_ / "test.db").string()) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    char* error = nullptr;
    const std::string script = "PRAGMA journal_mode=WAL;" + schema;
    const int rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error);
    std::string message = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK) throw std::runtime_error("schema: " + message);
    connectionString_ = "Provider=SQLite;Data Source=" + path_ + (options.empty() ? "" : ";" + options);
  }

  const std::string& path() const { return path_; }
  const std::filesystem::path& dir() const { return folder_.path(); }
  const std::string& connectionString() const { return connectionString_; }

 private:
  morvane::testing::TempFolder folder_{"morvane-db"};
  std::string path_;
  std::string connectionString_;
};

// Forwards every call to the SQLite provider's connection and records the statements run and
// the transaction calls made ("BEGIN", "COMMIT", "ROLLBACK"), across every connection it made.
class RecordingProvider : public morvane::testing::ForwardingProvider {
 public:
  struct Log {
    std::mutex mutex;
    std::vector<std::string> statements;  // guarded by mutex
    std::atomic<int> connects{0};

    void Add(std::string text) {
      std::lock_guard lock(mutex);
      statements.push_back(std::move(text));
    }
    std::vector<std::string> Snapshot() {
      std::lock_guard lock(mutex);
      return statements;
    }
  };

  class Connection : public morvane::testing::ForwardingConnection {
   public:
    Connection(std::unique_ptr<PhysicalConnection> inner, std::shared_ptr<Log> log)
        : ForwardingConnection(std::move(inner)), log_(std::move(log)) {}
    ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override {
      log_->Add(std::string(sql));
      return ForwardingConnection::Execute(sql, params);
    }
    void Begin() override {
      log_->Add("BEGIN");
      ForwardingConnection::Begin();
    }
    void Commit() override {
      log_->Add("COMMIT");
      ForwardingConnection::Commit();
    }
    void Rollback() override {
      log_->Add("ROLLBACK");
      ForwardingConnection::Rollback();
    }
    bool IsUsable() const override { return ForwardingConnection::IsUsable() && !unusable; }

    bool unusable = false;  // set by a test to make the pool discard the connection

   private:
    std::shared_ptr<Log> log_;
  };

  RecordingProvider() : ForwardingProvider(sqlite::SqliteProvider::Instance()) {}

  std::shared_ptr<Log> log = std::make_shared<Log>();
  // The connection made last (owned by whoever holds it); threads of a test may connect at once.
  std::atomic<Connection*> lastConnection{nullptr};

 protected:
  std::unique_ptr<PhysicalConnection> Wrap(std::unique_ptr<PhysicalConnection> connection,
                                           std::string_view) override {
    auto recording = std::make_unique<Connection>(std::move(connection), log);
    ++log->connects;
    lastConnection = recording.get();
    return recording;
  }
};

// A value as failure messages show it: its type and text ("Null", "Empty", "BYTES" for those).
inline std::string Describe(const Variant& v) {
  if (v.IsNull()) return "Null";
  if (v.IsEmpty()) return "Empty";
  if (v.vt() == automation::VT_BYTES) return "BYTES";
  try {
    return std::string(automation::VarTypeName(v.vt())) + " " + automation::ToText(v);
  } catch (const automation::Error&) {
    return std::string(automation::VarTypeName(v.vt()));
  }
}

using morvane::testing::ErrorOf;
using morvane::testing::Raised;
using morvane::testing::ProviderOverride;

}  // namespace morvane::db::testing
