#pragma once
// Where the programs that tests start as real child processes are: the built zelk program
// and the small helper programs, named as the running platform names files.

#include <string>
#include <string_view>

namespace zelk {

/// A path the build wrote down as a Unix path, as this platform names it: under Wine
/// "/x/y" is "Z:\x\y".
std::string native_build_path(std::string_view unix_path);

/// The full path of the helper program of that name (".exe" added on Windows).
std::string helper_program(std::string_view name);

/// The folder of the helper programs.
std::string helper_folder();

/// The full path of the built zelk program.
std::string zelk_program();

}  // namespace zelk
