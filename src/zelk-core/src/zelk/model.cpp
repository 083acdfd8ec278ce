#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_model(CommandContext&, const Args&) { return std::unexpected(not_built_yet("model")); }

}  // namespace zelk
