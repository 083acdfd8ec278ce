#include "scoped_env.h"

#include "platform.h"

namespace zelk {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), before_(get_env(name_)) {
  set_test_env(name_, value);
}

ScopedEnv::~ScopedEnv() { set_test_env(name_, before_); }

}  // namespace zelk
