// Installs a provider for every connection string while the object lives and puts the one that
// was installed before it back at its end (the normal choice by connection string when there
// was none). Idle pooled connections are closed at both ends, so that no connection made by
// another provider is handed out while the override lives, and none made by this one outlives it.
//
// Overrides nest (an inner one restores the outer one); they are made and ended on the test's
// thread, while no other thread opens connections.
#pragma once

#include "platform/db/pool.h"
#include "platform/db/provider.h"

namespace morvane::testing {

class ProviderOverride {
 public:
  explicit ProviderOverride(db::Provider& provider) : previous_(installed_) {
    db::ConnectionPool::Instance().Clear();
    installed_ = &provider;
    db::SetProviderOverride(&provider);
  }
  ~ProviderOverride() {
    installed_ = previous_;
    db::SetProviderOverride(previous_);
    db::ConnectionPool::Instance().Clear();
  }
  ProviderOverride(const ProviderOverride&) = delete;
  ProviderOverride& operator=(const ProviderOverride&) = delete;

 private:
  db::Provider* previous_;
  // The provider the innermost living override installed (nullptr: none).
  static inline db::Provider* installed_ = nullptr;
};

}  // namespace morvane::testing
