// Sets or clears an environment variable for a scope and puts back what was there before,
// also when the test leaves early.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vantry::test {

class ScopedEnv {
 public:
  // Only remembers the current value; set() changes it later.
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* v = std::getenv(name)) saved_ = v;
  }
  // Sets `value`, or clears the variable when it is null.
  ScopedEnv(const char* name, const char* value) : ScopedEnv(name) { set(value); }
  ~ScopedEnv() {
    if (saved_) {
      setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const char* value) {
    if (value) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace vantry::test
