// Recipes the user added: kept as <home>/recipes/<id>.yaml, with <id>.from beside a recipe that
// was fetched from a web address. The origin is shown only while the text still hashes as it
// did when fetched, so a recipe edited by hand no longer claims to come from its address.

#include <cstdint>
#include <system_error>

#include "apps.h"
#include "files.h"
#include "lines.h"
#include "platform.h"
#include "runner.h"
#include "text_files.h"

namespace zelk {

std::filesystem::path recipes_folder(const std::filesystem::path& home) {
  return home / path_from_utf8("recipes");
}

std::filesystem::path recipe_path(const std::filesystem::path& home, std::string_view id) {
  return recipes_folder(home) / path_from_utf8(std::string(id) + ".yaml");
}

std::filesystem::path origin_path(const std::filesystem::path& home, std::string_view id) {
  return recipes_folder(home) / path_from_utf8(std::string(id) + ".from");
}

std::string fnv1a_64(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001b3ULL;
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = digits[hash & 0xF];
    hash >>= 4;
  }
  return text;
}

std::string recipe_hash_line(std::string_view text) {
  std::string unix_text;
  unix_text.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    unix_text += text[i];
  }
  return fnv1a_64(unix_text);
}

std::string recipe_origin(const std::filesystem::path& home, std::string_view id,
                          std::string_view text) {
  const std::expected<std::string, std::string> origin = read_text_file(origin_path(home, id));
  if (!origin) return "";
  // A last line without "\n" still counts, as it stands.
  const std::vector<std::string_view> lines = split_lines(*origin, LoneReturn::Kept);
  if (lines.size() < 2 || lines[1] != recipe_hash_line(text)) return "";
  return std::string(lines[0]);
}

std::expected<Admission, std::string> keep_recipe(std::string_view text,
                                                  const std::filesystem::path& home) {
  const RecipeCatalogue catalogue = load_catalogue(home);
  std::expected<Admission, std::string> admission = admit_recipe(text, catalogue.recipes);
  if (!admission) return admission;

  const std::filesystem::path folder = recipes_folder(home);
  const auto refused = [&folder](const std::string& error) {
    return std::unexpected("The recipe could not be kept in " + path_to_utf8(folder) + ": " +
                           error);
  };
  if (auto made = make_data_folder(home, "recipes"); !made) return refused(made.error());
  // Through a temporary file and a rename: a crash or a full disk leaves the old recipe whole.
  std::expected<void, std::string> written =
      write_file_atomically(recipe_path(home, admission->recipe.id), text);
  if (!written) return refused(written.error());
  return admission;
}

std::expected<Admission, std::string> keep_local_recipe(std::string_view text, const std::filesystem::path& home) {
  std::expected<Admission, std::string> admission = keep_recipe(text, home);
  if (!admission) return admission;
  std::error_code ignored;
  std::filesystem::remove(origin_path(home, admission->recipe.id), ignored);
  admission->recipe.from.clear();
  return admission;
}

std::expected<void, std::string> keep_origin(const std::filesystem::path& home,
                                             std::string_view id, std::string_view address,
                                             std::string_view text) {
  std::string origin(address);
  origin += '\n';
  origin += recipe_hash_line(text);
  origin += '\n';
  return write_file_atomically(origin_path(home, id), origin);
}

std::expected<void, std::string> forget_added_recipe(const std::filesystem::path& home, const Recipe& recipe) {
  std::error_code error;
  std::filesystem::remove(recipe_path(home, recipe.id), error);
  if (error) {
    return std::unexpected("The recipe of " + recipe.name + " could not be taken out: " +
                           error_code_text(error));
  }
  std::error_code ignored;
  std::filesystem::remove(origin_path(home, recipe.id), ignored);
  return {};
}

std::string still_installed_message(const Recipe& recipe) {
  return recipe.name + " is still installed. Remove it first: zelk remove " + recipe.id;
}

}  // namespace zelk
