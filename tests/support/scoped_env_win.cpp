#include <windows.h>

#include "scoped_env.h"
#include "wide_win.h"

namespace zelk {

void set_test_env(const std::string& name, const std::optional<std::string>& value) {
  // The system's own block is what children inherit and what get_env reads.
  const std::wstring wide_value = value ? to_wide(*value) : std::wstring();
  SetEnvironmentVariableW(to_wide(name).c_str(), value ? wide_value.c_str() : nullptr);
}

}  // namespace zelk
