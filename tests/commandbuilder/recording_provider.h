// A forwarding provider for tests: every physical connection it opens wraps one of the real
// provider's, records each statement with its bound parameters, and answers a statement from a
// rule of the test when one matches (the real database then sees nothing). Installed for the
// lifetime of a ProviderOverride (testing/provider_override.h). Thread-safe: the log and the
// rules are guarded by a mutex.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/provider.h"
#include "testing/forwarding_provider.h"

namespace morvane::testing {

struct RecordedStatement {
  std::string sql;
  std::vector<db::BoundParameter> params;
};

class RecordingProvider : public ForwardingProvider {
 public:
  // A rule answers a statement with a result of its own, or nullopt to let it through.
  using Rule = std::function<std::optional<db::ResultSet>(const RecordedStatement&)>;

  explicit RecordingProvider(db::Provider& real) : ForwardingProvider(real), state_(std::make_shared<State>()) {}

  // Answers every statement whose text equals `sql` with `result`.
  void Answer(std::string sql, db::ResultSet result) {
    AddRule([sql = std::move(sql), result = std::move(result)](const RecordedStatement& s) -> std::optional<db::ResultSet> {
      if (s.sql == sql) return result;
      return std::nullopt;
    });
  }
  void AddRule(Rule rule) {
    std::lock_guard lock(state_->mutex);
    state_->rules.push_back(std::move(rule));
  }

  std::vector<RecordedStatement> Statements() const {
    std::lock_guard lock(state_->mutex);
    return state_->log;
  }
  // The recorded statements whose text starts with `prefix`.
  std::vector<RecordedStatement> StatementsStartingWith(std::string_view prefix) const {
    std::vector<RecordedStatement> found;
    for (auto& s : Statements()) {
      if (std::string_view(s.sql).starts_with(prefix)) found.push_back(std::move(s));
    }
    return found;
  }
  // The recorded texts, leaving out the isolation statements every new connection runs.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& s : Statements()) {
      if (!s.sql.starts_with("SET TRANSACTION")) texts.push_back(s.sql);
    }
    return texts;
  }
  void ClearLog() {
    std::lock_guard lock(state_->mutex);
    state_->log.clear();
  }

 private:
  struct State {
    mutable std::mutex mutex;
    std::vector<RecordedStatement> log;  // guarded by mutex
    std::vector<Rule> rules;             // guarded by mutex
  };

  class Connection : public ForwardingConnection {
   public:
    Connection(std::unique_ptr<db::PhysicalConnection> inner, std::shared_ptr<State> state)
        : ForwardingConnection(std::move(inner)), state_(std::move(state)) {}

    db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
      RecordedStatement s{std::string(sql), {params.begin(), params.end()}};
      std::vector<Rule> rules;
      {
        std::lock_guard lock(state_->mutex);
        state_->log.push_back(s);
        rules = state_->rules;
      }
      for (const Rule& rule : rules) {
        if (auto answer = rule(s)) return *answer;
      }
      return ForwardingConnection::Execute(sql, params);
    }

   private:
    std::shared_ptr<State> state_;
  };

  std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                               std::string_view) override {
    return std::make_unique<Connection>(std::move(connection), state_);
  }

  std::shared_ptr<State> state_;
};

}  // namespace morvane::testing
