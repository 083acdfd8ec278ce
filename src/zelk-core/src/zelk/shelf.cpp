#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_shelf(CommandContext&, const Args&) { return std::unexpected(not_built_yet("shelf")); }

}  // namespace zelk
