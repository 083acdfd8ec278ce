#pragma once
// Small recipe texts for tests of the catalogue and of everything that takes recipes in.

#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// A format-1 app: one container "torvo-<id>" with port 80 inside, one volume "torvo-<id>-data"
/// mounted at /data, the given display name and port on this computer. `line_end` is put after
/// every line ("\n" or "\r\n").
std::string sample_recipe(std::string_view id, std::string_view name, unsigned port,
                          std::string_view line_end = "\n");

/// A format-2 app "<id>" with one helper "<helper>" (container "torvo-<id>-<helper>", volume
/// "torvo-<id>-<helper>") that starts before the app.
std::string sample_recipe_with_helper(std::string_view id, std::string_view helper,
                                      std::string_view name, unsigned port);

/// A format-1 app like sample_recipe whose volume is declared with the given full name.
std::string sample_recipe_with_volume(std::string_view id, std::string_view volume,
                                      std::string_view name, unsigned port);

/// The text grown with one comment line at its start to exactly `size` bytes.
/// The text must be shorter than size - 3.
std::string padded_to(std::string text, std::size_t size);

/// Writes the bytes to the file (creating its folders), failing the test when it cannot.
void put_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace zelk
