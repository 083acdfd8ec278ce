#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_add(CommandContext&, const Args&) { return std::unexpected(not_built_yet("add")); }

}  // namespace zelk
