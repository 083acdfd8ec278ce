#pragma once
/// The console windows the window program opens: set-up through zelk.exe, the installation
/// of Podman Desktop through winget, and a console for the container runtime. Each is "cmd"
/// with an argument text that is passed to the command line unchanged (cmd reads the quotes
/// after /k itself), so the texts are made here, whole, and nothing quotes them again.
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

/// The console program's file name, next to the window program.
inline constexpr std::string_view console_program_name = "zelk.exe";

/// /k "title Set up Podman - Valdroven AI Zelk & "<zelk.exe>" setup"
std::string setup_console_arguments(std::string_view zelk_path);

/// /k "title Podman Desktop - Valdroven AI Zelk & winget install ... & echo You can close this window."
std::string desktop_get_console_arguments();

/// "docker" when the runtime's display name is Docker in any case, else "podman".
std::string terminal_command(std::string_view runtime_name);

/// /k "title <command> - Valdroven AI Zelk & <command> ps -a"
std::string terminal_console_arguments(std::string_view command);

/// The PATH of the runtime's console: the program's own folder, then the folder of the
/// runtime command as found (only when what was found has a folder part), then the current
/// PATH as it is; joined by `separator`. An entry that holds the separator is put in double
/// quotes; one that holds a double quote cannot be joined: "The folder <folder> has a double
/// quote in its name."
std::expected<std::string, std::string> terminal_path(const std::filesystem::path& program_folder,
                                                      std::string_view found_command,
                                                      const std::optional<std::string>& current_path,
                                                      char separator);

}  // namespace zelk
