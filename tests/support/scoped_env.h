#pragma once
// Sets or clears an environment variable of this process for one test and puts the old value
// back afterwards.

#include <optional>
#include <string>

namespace zelk {

class ScopedEnv {
 public:
  /// Sets `name` to `value`, or removes it when `value` is none.
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// Sets (or, with none, removes) a variable of this process; UTF-8 in, UTF-16 to the system on
/// Windows.
void set_process_env(const std::string& name, const std::optional<std::string>& value);

}  // namespace zelk
