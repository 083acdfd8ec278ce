#pragma once
/// The console program's entry: finds the data folder, loads the catalogue, runs the command
/// and turns its result into an exit code.

#include <string>
#include <vector>

namespace zelk {

/// Runs `zelk` with the arguments that follow the program's name. Writes command output to
/// standard output, notices and errors to standard error. Gives 0 on success, else 1.
int console_main(const std::vector<std::string>& args);

}  // namespace zelk
