#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_doctor(CommandContext&, const Args&) { return std::unexpected(not_built_yet("doctor")); }

}  // namespace zelk
