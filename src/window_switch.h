#pragma once
/// The one switch of the window program's command line.
#include <span>
#include <string>

namespace zelk {

/// True when any argument, the program path included, is exactly "--window" (whole text,
/// case-sensitive). The arguments are the system's UTF-16 texts as given, so one that is not
/// valid Unicode (an unpaired surrogate) never equals the switch.
bool has_window_switch(std::span<const std::u16string> arguments);

}  // namespace zelk
