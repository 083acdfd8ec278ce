#pragma once
/// The apps this computer knows: the built-in recipes, the recipes the user added in the data
/// folder, and the admission test every new recipe passes before it joins them.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"

namespace zelk {

/// The known recipes in catalogue order (built-ins first, then added files in path order)
/// and one notice per added file that is not used.
struct RecipeCatalogue {
  std::vector<Recipe> recipes;
  std::vector<std::string> notices;
};

/// A recipe that passed admission, and whether it takes the place of an added recipe with the
/// same id.
struct Admission {
  Recipe recipe;
  bool replaces = false;
};

/// The largest recipe text in bytes; a text or file of one byte more is refused unread.
inline constexpr std::size_t recipe_size_limit = 65536;

/// The texts of the built-in recipes as compiled into the program, byte for byte, in catalogue
/// order: n8n, Gitea, Open WebUI, Ollama.
std::span<const std::string_view> builtin_recipe_texts();

/// The built-in recipes in catalogue order, each with built_in set. Read once per process on
/// first use (from any thread); a text the reader refuses stops the program with
/// "built-in recipe: <message>", since that is a fault of the build.
const std::vector<Recipe>& builtin_recipes();

/// The built-in recipes and the added ones under <home>/recipes. Never fails: every problem
/// with an added file becomes a notice "The recipe <path> is not used: <reason>".
RecipeCatalogue load_catalogue(const std::filesystem::path& home);

/// Checks a recipe text and then that it takes no built-in id and no port, container or volume
/// of another known app. Gives the first refusal's message; nothing is written.
std::expected<Admission, std::string> admit_recipe(std::string_view text,
                                                   std::span<const Recipe> known);

/// <home>/recipes, where added recipes lie.
std::filesystem::path recipes_folder(const std::filesystem::path& home);

/// <home>/recipes/<id>.yaml: an added recipe, byte for byte as it was received.
std::filesystem::path recipe_path(const std::filesystem::path& home, std::string_view id);

/// <home>/recipes/<id>.from: the address a recipe was fetched from and the hash line of the
/// text as fetched, each line ended by "\n".
std::filesystem::path origin_path(const std::filesystem::path& home, std::string_view id);

/// FNV-1a with 64 bits over the bytes, as 16 lower-case hexadecimal digits.
std::string fnv1a_64(std::string_view bytes);

/// fnv1a_64 of the text with every "\r\n" read as "\n", so a recipe keeps its hash line
/// whichever line ends it travels with.
std::string recipe_hash_line(std::string_view text);

/// The address an added recipe was fetched from, while its origin file's hash line still
/// matches the text; "" when the file is missing, short, unreadable or does not match.
std::string recipe_origin(const std::filesystem::path& home, std::string_view id,
                          std::string_view text);

/// Admits the text against the catalogue as it is on disk now and stores it as
/// <home>/recipes/<id>.yaml, replacing an added recipe of the same id. A write that fails
/// leaves the old file as it was: "The recipe could not be kept in <folder>: <error>".
std::expected<Admission, std::string> keep_recipe(std::string_view text,
                                                  const std::filesystem::path& home);

/// Keeps a recipe that came from a file or from pasted text: keep_recipe, then removes the
/// origin file an earlier recipe of that id left (a failure is ignored), so the app claims no
/// address it was not fetched from. The admitted recipe's origin is empty.
std::expected<Admission, std::string> keep_local_recipe(std::string_view text, const std::filesystem::path& home);

/// Writes <home>/recipes/<id>.from for a recipe fetched from the address: the address and the
/// recipe_hash_line of the text, each followed by "\n". Gives the system's error text.
std::expected<void, std::string> keep_origin(const std::filesystem::path& home,
                                             std::string_view id, std::string_view address,
                                             std::string_view text);

/// Takes an added recipe out of the list: deletes <home>/recipes/<id>.yaml, then its origin
/// file, whose loss only costs the shown origin. Settings, markers and data stay. Fails with
/// "The recipe of <name> could not be taken out: <system error>" and then deletes nothing.
std::expected<void, std::string> forget_added_recipe(const std::filesystem::path& home, const Recipe& recipe);

/// "<name> is still installed. Remove it first: zelk remove <id>": an app is forgotten only
/// while none of its containers exists.
std::string still_installed_message(const Recipe& recipe);

/// The first recipe with that id, or 'Unknown app "<id>". Choose: <ids>.'
std::expected<const Recipe*, std::string> find_app(std::span<const Recipe> recipes,
                                                   std::string_view id);

}  // namespace zelk
