#include <windows.h>

#include "scoped_env.h"
#include "wide_win.h"

namespace zelk {

void set_process_env(const std::string& name, const std::optional<std::string>& value) {
  std::wstring wide_name = to_wide(name);
  if (value) {
    SetEnvironmentVariableW(wide_name.c_str(), to_wide(*value).c_str());
  } else {
    SetEnvironmentVariableW(wide_name.c_str(), nullptr);
  }
}

}  // namespace zelk
