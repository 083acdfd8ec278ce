#pragma once
// Reading back files that child processes of a test write.

#include <filesystem>
#include <string>

namespace zelk {

/// The whole content of a file, or empty text when it cannot be read.
std::string read_text(const std::filesystem::path& path);

/// Waits, up to a generous bound, until the file exists and is not empty; gives its text
/// (empty when it never came). For files a process writes after the test's call returned.
std::string wait_for_text(const std::filesystem::path& path);

}  // namespace zelk
