#include "platform.h"

#include <array>
#include <system_error>

namespace zelk {

std::optional<std::filesystem::path> env_path_join(std::string_view variable,
                                                   std::span<const std::string_view> parts) {
  std::optional<std::filesystem::path> path = env_path(variable);
  if (!path) return std::nullopt;
  for (std::string_view part : parts) *path /= path_from_utf8(part);
  return path;
}

std::optional<std::filesystem::path> find_podman_desktop() {
  // Podman Desktop's installer puts it under the user's programs folder (the folder's name
  // changed between releases) or, installed for everyone, under Program Files.
  static constexpr std::array<std::string_view, 3> user_install = {"Programs", "Podman Desktop",
                                                                   "Podman Desktop.exe"};
  static constexpr std::array<std::string_view, 3> older_user_install = {"Programs", "podman-desktop",
                                                                         "Podman Desktop.exe"};
  static constexpr std::array<std::string_view, 2> machine_install = {"Podman Desktop",
                                                                      "Podman Desktop.exe"};
  const std::array<std::optional<std::filesystem::path>, 3> candidates = {
      env_path_join("LOCALAPPDATA", user_install),
      env_path_join("LOCALAPPDATA", older_user_install),
      env_path_join("ProgramFiles", machine_install),
  };
  for (const std::optional<std::filesystem::path>& candidate : candidates) {
    if (!candidate) continue;
    std::error_code error;
    // Any entry counts whose metadata can be read, as when the program is started by path.
    if (std::filesystem::exists(std::filesystem::status(*candidate, error))) return candidate;
  }
  return std::nullopt;
}

}  // namespace zelk
