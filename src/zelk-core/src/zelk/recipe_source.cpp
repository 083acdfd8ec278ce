#include "zelk/recipe_source.h"

#include <system_error>

#include "files.h"
#include "platform.h"
#include "runner.h"
#include "shelf.h"
#include "text_files.h"
#include "utf8.h"

namespace zelk {

bool is_web_address(std::string_view text) {
  return text.starts_with("https://") || text.starts_with("http://");
}

std::expected<std::string, std::string> read_recipe_source(const CommandRunner& runner,
                                                           const std::string& argument) {
  if (is_web_address(argument)) return fetch_address(runner, argument);
  const std::filesystem::path path = path_from_utf8(argument);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::unexpected(argument + " could not be read: " + error_code_text(error));
  // Checked before reading, so a large file is never read into memory.
  if (size > fetch_size_limit) {
    return std::unexpected(argument + " is too large to be a recipe" + std::string(recipe_limit_words));
  }
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(argument + " could not be read: " + bytes.error());
  if (!is_valid_utf8(*bytes)) {
    return std::unexpected(argument + " is not UTF-8 text. " + std::string(save_as_utf8));
  }
  return std::move(*bytes);
}

}  // namespace zelk
