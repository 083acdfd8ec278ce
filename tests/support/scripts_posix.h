#pragma once
// Small shell scripts that tests write into a folder and start as real child processes.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// Writes "#!/bin/sh" and the body as an executable file in the folder; gives its path.
std::string write_script(const std::filesystem::path& folder, std::string_view name,
                         std::string_view body);

/// The whole content of a file, or empty text when it cannot be read.
std::string read_text(const std::filesystem::path& path);

/// Waits (up to a generous bound) until the file exists and is not empty; gives its text.
std::string wait_for_text(const std::filesystem::path& path);

/// True while a process with this id exists.
bool process_alive(pid_t pid);

}  // namespace zelk
