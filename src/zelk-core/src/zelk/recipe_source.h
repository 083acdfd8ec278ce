#pragma once
/// Where "check" and "add" take a recipe from: a web address or a file on this computer.

#include <expected>
#include <string>
#include <string_view>

#include "runner.h"

namespace zelk {

/// True when the text starts with "https://" or "http://" (exactly, in small letters);
/// everything else is a path.
bool is_web_address(std::string_view text);

/// The recipe text behind the argument: fetched for a web address, else read from the file
/// when it is at most 65,536 bytes of UTF-8. Gives the message to show when it cannot.
std::expected<std::string, std::string> read_recipe_source(const CommandRunner& runner,
                                                           const std::string& argument);

}  // namespace zelk
