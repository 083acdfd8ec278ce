#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_setup(CommandContext&, const Args&) { return std::unexpected(not_built_yet("setup")); }

}  // namespace zelk
