#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_update(CommandContext&, const Args&) { return std::unexpected(not_built_yet("update")); }

}  // namespace zelk
