#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_list(CommandContext&, const Args&) { return std::unexpected(not_built_yet("list")); }

}  // namespace zelk
