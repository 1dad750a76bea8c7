// An environment variable set (or unset) for the life of the object, then restored. The
// environment is process-wide: use it only in tests that start no threads reading it.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace morvane::testing {

class ScopedVariable {
 public:
  // nullopt: the variable is unset while the object lives.
  ScopedVariable(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(old_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace morvane::testing
