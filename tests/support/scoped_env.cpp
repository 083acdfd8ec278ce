#include "scoped_env.h"

#include "platform.h"

namespace zelk {

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), old_(get_env(name_)) {
  set_process_env(name_, value);
}

ScopedEnv::~ScopedEnv() { set_process_env(name_, old_); }

}  // namespace zelk
