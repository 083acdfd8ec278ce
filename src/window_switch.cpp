#include "window_switch.h"

#include <algorithm>

namespace zelk {

bool has_window_switch(std::span<const std::u16string> arguments) {
  return std::ranges::any_of(arguments, [](const std::u16string& argument) { return argument == u"--window"; });
}

}  // namespace zelk
