#pragma once
// Sets or removes an environment variable of the test process for one scope, then puts back
// what was there. Programs the test starts meanwhile inherit the change.

#include <optional>
#include <string>

namespace zelk {

/// Sets the variable to the value, or removes it when the value is none.
void set_test_env(const std::string& name, const std::optional<std::string>& value);

class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> before_;
};

}  // namespace zelk
