#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_check(CommandContext&, const Args&) { return std::unexpected(not_built_yet("check")); }

}  // namespace zelk
