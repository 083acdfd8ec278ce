#include <cstdlib>

#include "scoped_env.h"

namespace zelk {

void set_test_env(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

}  // namespace zelk
