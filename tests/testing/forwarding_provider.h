// The base of the test providers that sit between the data-access layer and a real (or inert)
// provider. ForwardingConnection passes every member to the connection it wraps; a test
// connection derives from it and overrides only the members it records or changes.
// ForwardingProvider opens each connection with its inner provider and hands it to Wrap, which a
// test provider overrides to put its own connection around it. InertProvider is the inner
// provider of the fakes that need no database: its connections run nothing.
//
// Depends on the data-access layer alone, so that every test program can use it.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db/provider.h"

namespace morvane::testing {

class ForwardingConnection : public db::PhysicalConnection {
 public:
  explicit ForwardingConnection(std::unique_ptr<db::PhysicalConnection> inner) : inner_(std::move(inner)) {}

  db::ResultSet Execute(std::string_view sql, std::span<const db::BoundParameter> params) override {
    return inner_->Execute(sql, params);
  }
  void Begin() override { inner_->Begin(); }
  void BeginDeferred() override { inner_->BeginDeferred(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  std::vector<std::pair<std::string, db::Variant>> Properties() override { return inner_->Properties(); }
  bool IsUsable() const override { return inner_->IsUsable(); }

 protected:
  // The wrapped connection; a derived class may close it (reset) to stand for a lost link, and
  // must then stop forwarding to it.
  std::unique_ptr<db::PhysicalConnection> inner_;
};

class ForwardingProvider : public db::Provider {
 public:
  explicit ForwardingProvider(db::Provider& inner) : inner_(inner) {}

  std::unique_ptr<db::PhysicalConnection> Connect(std::string_view connectionString) override {
    return Wrap(inner_.Connect(connectionString), connectionString);
  }

 protected:
  // The connection handed to the data-access layer for one the inner provider opened.
  virtual std::unique_ptr<db::PhysicalConnection> Wrap(std::unique_ptr<db::PhysicalConnection> connection,
                                                       std::string_view connectionString) {
    (void)connectionString;
    return std::make_unique<ForwardingConnection>(std::move(connection));
  }

  db::Provider& inner() const { return inner_; }

 private:
  db::Provider& inner_;
};

// Connections that touch no database: every statement gives an empty result, the transaction
// calls do nothing, there are no provider properties, and a connection stays usable.
class InertProvider final : public db::Provider {
 public:
  static InertProvider& Instance() {
    static InertProvider provider;
    return provider;
  }

  std::unique_ptr<db::PhysicalConnection> Connect(std::string_view) override {
    return std::make_unique<Connection>();
  }

 private:
  class Connection final : public db::PhysicalConnection {
   public:
    db::ResultSet Execute(std::string_view, std::span<const db::BoundParameter>) override { return {}; }
    void Begin() override {}
    void Commit() override {}
    void Rollback() override {}
    std::vector<std::pair<std::string, db::Variant>> Properties() override { return {}; }
    bool IsUsable() const override { return true; }
  };
};

}  // namespace morvane::testing
