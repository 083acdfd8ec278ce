#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_resume(CommandContext&, const Args&) { return std::unexpected(not_built_yet("resume")); }

}  // namespace zelk
