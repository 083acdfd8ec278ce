#include "shelf.h"

#include <algorithm>
#include <system_error>

#include "addresses.h"
#include "files.h"
#include "lines.h"
#include "unicode.h"
#include "utf8.h"
#include "yaml.h"

namespace zelk {

namespace {

constexpr std::size_t shelf_name_limit = 60;
constexpr std::size_t shelf_recipes_max = 50;
constexpr std::size_t shelf_file_stem_limit = 60;

const std::string shelf_base_message =
    "This is not a shelf. A shelf is a short list:\n"
    "  shelf: 1\n"
    "  name: <what it is>\n"
    "  recipes:\n"
    "    - <file name>.yaml";

bool is_good_shelf_name(std::string_view name) {
  const std::size_t length = count_characters(name);
  return length >= 1 && length <= shelf_name_limit;
}

// A shelf's name is shown in the console and the window as it stands, so it may not hold what
// would move the cursor, end the line or turn the text around it backwards.
bool is_plain_shelf_name(std::string_view name) { return !has_control_character(name) && !has_bidi_control(name); }

std::string not_a_file_name_message(std::string_view entry) {
  return "\"" + visible_text(entry) +
         "\" is not a file name a shelf can list. A recipe lies next to the shelf's list and is "
         "named with small letters, digits, \".\", \"_\" and \"-\", ending in \".yaml\".";
}

// The address up to and including its last "/" (the whole address when it has none).
std::string_view address_folder(std::string_view address) {
  std::size_t slash = address.rfind('/');
  return slash == std::string_view::npos ? address : address.substr(0, slash + 1);
}

}  // namespace

bool is_shelf_file_name(std::string_view name) {
  std::string_view stem;
  if (name.ends_with(".yaml")) {
    stem = name.substr(0, name.size() - 5);
  } else if (name.ends_with(".yml")) {
    stem = name.substr(0, name.size() - 4);
  } else {
    return false;
  }
  if (stem.empty() || stem.size() > shelf_file_stem_limit) return false;
  auto small_or_digit = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  if (!small_or_digit(stem.front())) return false;
  for (char c : stem) {
    if (!small_or_digit(c) && c != '.' && c != '_' && c != '-') return false;
  }
  return stem.find("..") == std::string_view::npos;
}

std::expected<Shelf, std::string> parse_shelf(std::string_view text, std::string_view shelf_address) {
  auto value = read_yaml(text);
  if (!value) return std::unexpected(shelf_base_message + "\n  (" + value.error() + ")");
  if (value->kind != YamlValue::Kind::Mapping) return std::unexpected(shelf_base_message);
  for (const YamlEntry& entry : value->mapping) {
    if (entry.key != "shelf" && entry.key != "name" && entry.key != "recipes") {
      return std::unexpected(shelf_base_message + "\n  (it has \"" + entry.key +
                             "\", which a shelf does not have)");
    }
  }

  const YamlValue* format = yaml_get(*value, "shelf");
  if (format == nullptr || format->kind != YamlValue::Kind::Text) {
    return std::unexpected(shelf_base_message);
  }
  if (format->text != "1") {
    return std::unexpected("This Zelk reads shelves of format 1; this one says format " +
                           visible_text(format->text) + ".");
  }

  const YamlValue* name = yaml_get(*value, "name");
  if (name == nullptr || name->kind != YamlValue::Kind::Text || !is_good_shelf_name(name->text)) {
    return std::unexpected("A shelf has a \"name\" of up to 60 characters.");
  }
  if (!is_plain_shelf_name(name->text)) {
    return std::unexpected(
        "A shelf's \"name\" is plain text: no control characters, no marks that turn the reading direction.");
  }

  const YamlValue* list = yaml_get(*value, "recipes");
  if (list == nullptr || list->kind != YamlValue::Kind::List) {
    return std::unexpected(shelf_base_message);
  }
  if (list->list.empty() || list->list.size() > shelf_recipes_max) {
    return std::unexpected("A shelf lists 1 to 50 recipes; this one lists " +
                           std::to_string(list->list.size()) + ".");
  }

  Shelf shelf{.name = name->text, .recipes = {}};
  const std::string_view folder = address_folder(shelf_address);
  for (const YamlValue& entry : list->list) {
    if (entry.kind != YamlValue::Kind::Text) return std::unexpected(not_a_file_name_message(""));
    if (!is_shelf_file_name(entry.text)) return std::unexpected(not_a_file_name_message(entry.text));
    bool listed = std::any_of(shelf.recipes.begin(), shelf.recipes.end(),
                              [&](const ShelfRecipe& known) { return known.file == entry.text; });
    if (listed) return std::unexpected("The shelf lists \"" + entry.text + "\" twice.");
    shelf.recipes.push_back(ShelfRecipe{.file = entry.text, .address = std::string(folder) + entry.text});
  }
  return shelf;
}

std::filesystem::path shelves_path(const std::filesystem::path& home) { return home / "shelves"; }

std::vector<std::string> shelf_addresses(const std::filesystem::path& home) {
  // Which shelves the user follows is the user's own: a list left readable to others is
  // narrowed when read, as the list is written only when it changes.
  keep_private(home);
  keep_private(shelves_path(home));
  auto text = read_file(shelves_path(home));
  if (!text || !is_valid_utf8(*text)) return {std::string(default_shelf_address)};
  std::vector<std::string> addresses;
  for (const std::string_view line : split_lines(*text)) {
    std::string address(trim_white_space(line));
    if (check_web_address(address)) addresses.push_back(std::move(address));
  }
  return addresses;
}

std::expected<void, std::string> write_shelf_addresses(const std::filesystem::path& home,
                                                       std::span<const std::string> addresses) {
  const std::string failed = "The list of shelves could not be written: ";
  if (auto made = make_data_folder(home); !made) return std::unexpected(failed + made.error());
  std::string text;
  for (const std::string& address : addresses) text += address + "\n";
  if (auto written = write_file_atomically(shelves_path(home), text); !written) {
    return std::unexpected(failed + written.error());
  }
  return {};
}

bool same_shelf_address(std::string_view a, std::string_view b) {
  const auto without_fragment = [](std::string_view address) { return address.substr(0, address.find('#')); };
  return without_fragment(a) == without_fragment(b);
}

bool is_default_shelf_recipe(std::string_view address) {
  if (address == default_shelf_address) return false;
  const std::string_view folder = address_folder(default_shelf_address);
  if (!address.starts_with(folder)) return false;
  return is_shelf_file_name(address.substr(folder.size()));
}

std::string unix_line_ends(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    result.push_back(text[i]);
  }
  return result;
}

}  // namespace zelk
