#include "command_ends.h"

#include "platform.h"
#include "zelk/backup.h"

namespace zelk {

std::string backup_done_line(std::string_view name, const std::optional<std::filesystem::path>& home,
                             bool home_named) {
  if (home_named && home) {
    if (const auto base = default_backup_base(*home)) {
      return std::string(name) + " is backed up in the folder \"" + path_to_utf8(*base) + "\".";
    }
  }
  return std::string(name) + " is backed up in the folder \"" + std::string(default_backup_folder_name) +
         "\" in your user folder.";
}

}  // namespace zelk
