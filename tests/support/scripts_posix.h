#pragma once
// Small shell scripts that tests write into a folder and start as real child processes.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "file_text.h"

namespace zelk {

/// Writes "#!/bin/sh" and the body as an executable file in the folder; gives its path.
std::string write_script(const std::filesystem::path& folder, std::string_view name,
                         std::string_view body);

/// True while a process with this id runs: one that has ended but is not reaped yet is not.
bool process_alive(pid_t pid);

}  // namespace zelk
