// Helpers of the data-access tests: a temporary SQLite database made with the library itself
// (the provider never creates files), and a provider that forwards to the SQLite provider while
// recording what runs through it.
#pragma once

#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/automation/error.h"
#include "platform/db/provider.h"
#include "platform/db/sqlite/sqlite_provider.h"

namespace morvane::db::testing {

// A fresh directory with a database file "test.db" in it, made by running `schema`; removed
// with everything in it when the object ends.
class TempDatabase {
 public:
  explicit TempDatabase(const std::string& schema = {}, const std::string& options = {}) {
    std::string pattern = (std::filesystem::temp_directory_path() / "morvane-db-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    path_ = (dir_ / "test.db").string();
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
  ~TempDatabase() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  const std::string& path() const { return path_; }
  const std::filesystem::path& dir() const { return dir_; }
  const std::string& connectionString() const { return connectionString_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
  std::string connectionString_;
};

// Forwards every call to the SQLite provider's connection and records the statements run and
// the transaction calls made ("BEGIN", "COMMIT", "ROLLBACK"), across every connection it made.
class RecordingProvider : public Provider {
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

  class Connection : public PhysicalConnection {
   public:
    Connection(std::unique_ptr<PhysicalConnection> inner, std::shared_ptr<Log> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}
    ResultSet Execute(std::string_view sql, std::span<const BoundParameter> params) override {
      log_->Add(std::string(sql));
      return inner_->Execute(sql, params);
    }
    void Begin() override {
      log_->Add("BEGIN");
      inner_->Begin();
    }
    void Commit() override {
      log_->Add("COMMIT");
      inner_->Commit();
    }
    void Rollback() override {
      log_->Add("ROLLBACK");
      inner_->Rollback();
    }
    std::vector<std::pair<std::string, Variant>> Properties() override { return inner_->Properties(); }
    bool IsUsable() const override { return inner_->IsUsable() && !unusable; }

    bool unusable = false;  // set by a test to make the pool discard the connection

   private:
    std::unique_ptr<PhysicalConnection> inner_;
    std::shared_ptr<Log> log_;
  };

  std::unique_ptr<PhysicalConnection> Connect(std::string_view connectionString) override {
    auto connection = std::make_unique<Connection>(sqlite::SqliteProvider::Instance().Connect(connectionString), log);
    ++log->connects;
    lastConnection = connection.get();
    return connection;
  }

  std::shared_ptr<Log> log = std::make_shared<Log>();
  Connection* lastConnection = nullptr;  // the connection made last (owned by whoever holds it)
};

// The error that f raises; a test failure (and an empty error) when it raises none.
template <class F>
automation::Error ErrorOf(F&& f) {
  try {
    f();
  } catch (const automation::Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error was raised";
  return automation::Error(0, {}, {});
}

// Installs a provider override for the scope of a test.
class ProviderOverride {
 public:
  explicit ProviderOverride(Provider* provider) { SetProviderOverride(provider); }
  ~ProviderOverride() { SetProviderOverride(nullptr); }
  ProviderOverride(const ProviderOverride&) = delete;
  ProviderOverride& operator=(const ProviderOverride&) = delete;
};

}  // namespace morvane::db::testing
