#include "console_starts.h"

#include <vector>

#include "platform.h"

namespace zelk {

std::string setup_console_arguments(std::string_view zelk_path) {
  return "/k \"title Set up Podman - Valdroven AI Zelk & \"" + std::string(zelk_path) + "\" setup\"";
}

std::string desktop_get_console_arguments() {
  return "/k \"title Podman Desktop - Valdroven AI Zelk & winget install --exact --id RedHat.Podman-Desktop "
         "--accept-source-agreements --accept-package-agreements & echo. & echo You can close this window.\"";
}

std::string terminal_command(std::string_view runtime_name) {
  std::string lower(runtime_name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower == "docker" ? "docker" : "podman";
}

std::string terminal_console_arguments(std::string_view command) {
  const std::string word(command);
  return "/k \"title " + word + " - Valdroven AI Zelk & " + word + " ps -a\"";
}

std::expected<std::string, std::string> terminal_path(const std::filesystem::path& program_folder,
                                                      std::string_view found_command,
                                                      const std::optional<std::string>& current_path,
                                                      char separator) {
  std::vector<std::string> front{path_to_utf8(program_folder)};
  const std::filesystem::path found_folder = path_from_utf8(found_command).parent_path();
  if (!found_folder.empty()) front.push_back(path_to_utf8(found_folder));

  std::string joined;
  for (const std::string& folder : front) {
    if (folder.find('"') != std::string::npos) {
      return std::unexpected("The folder " + folder + " has a double quote in its name.");
    }
    if (!joined.empty()) joined += separator;
    joined += folder.find(separator) != std::string::npos ? "\"" + folder + "\"" : folder;
  }
  if (current_path && !current_path->empty()) joined += separator + *current_path;
  return joined;
}

}  // namespace zelk
