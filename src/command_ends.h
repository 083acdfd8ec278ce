#pragma once
/// What the status line says when an app command ends well and its own last line would not
/// tell the user enough: after fetching a model, and after a backup.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

/// "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat."
inline constexpr std::string_view model_ready_line =
    "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat.";

/// Where a backup went: with the default data folder (`home_named` false: ZELK_HOME does not
/// name it), "<name> is backed up in the folder "Valdroven AI Zelk backups" in your user
/// folder."; with a data folder named by ZELK_HOME, the backups lie beside that folder, so
/// the line names them by path: "<name> is backed up in the folder "<path>"."
std::string backup_done_line(std::string_view name, const std::optional<std::filesystem::path>& home,
                             bool home_named);

}  // namespace zelk
