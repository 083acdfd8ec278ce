#pragma once
/// What read_recipe shares between its files while it reads one text: the accessors on the
/// YAML tree with their message shapes, the small text rules, and the state of one reading.
/// Only the recipe module includes this.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"
#include "yaml.h"

/// Returns the failure of a step that gives a Result.
#define ZELK_TRY(expression)                                      \
  do {                                                            \
    if (auto zelk_try_result = (expression); !zelk_try_result) {  \
      return std::unexpected(std::move(zelk_try_result.error())); \
    }                                                             \
  } while (false)

namespace zelk::recipe_reading {

template <class T>
using Result = std::expected<T, std::string>;
using Entries = std::vector<YamlEntry>;
using Keys = std::span<const std::string_view>;

/// The entries of a mapping, else "<where> needs settings below it, each on its own line."
Result<const Entries*> as_mapping(const YamlValue& value, std::string_view where);

/// Fails on the first entry whose key is not allowed, naming the allowed keys in order.
Result<void> check_keys(const Entries& entries, Keys allowed, std::string_view where);

/// The value of the entry with that key, or none.
const YamlValue* find_entry(const Entries& entries, std::string_view key);

/// A non-empty text under the key; fails when the key is absent or holds anything else.
Result<std::string> required_text(const Entries& entries, std::string_view key,
                                  std::string_view where);

/// None when the key is absent, else as required_text.
Result<std::optional<std::string>> optional_text(const Entries& entries, std::string_view key,
                                                 std::string_view where);

/// An x-zelk text of at most `limit` characters without control characters.
Result<void> one_line_text(std::string_view value, std::string_view key, std::size_t limit);

/// An x-zelk path on the app's own address.
Result<void> check_path(std::string_view value, std::string_view key);

/// Decimal digits with one optional leading "+", at most `largest`; none otherwise.
std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t largest);

/// 2 to 32 bytes: a small letter, then small letters, digits and "-".
bool is_app_id(std::string_view id);

/// An ASCII letter or "_", then ASCII letters, digits or "_".
bool is_variable_name(std::string_view name);

/// The checks on an image reference, for the x-zelk or service key `key`.
Result<void> check_image(std::string_view image, std::string_view key);

/// The text in double quotes.
std::string quoted(std::string_view text);

/// 'The service "<key>"'.
std::string service_where(std::string_view key);

struct Secret {
  std::string name;
  std::uint32_t length = 0;
};

/// One service while it is read, in file order.
struct Service {
  std::string key;
  const Entries* entries = nullptr;
  bool is_app = false;
  std::string container;
  std::string image;
  std::vector<std::string> command;
  std::vector<RecipeEnv> environment;
  std::vector<RecipeMount> volumes;
  std::vector<std::string> depends_on;
};

/// The state of one reading, filled step by step.
struct Reading {
  const Entries* top = nullptr;
  const Entries* xzelk = nullptr;
  int format = 0;
  std::string id;
  std::string container;
  std::vector<Secret> secrets;
  const Entries* services_block = nullptr;
  std::vector<Service> services;
  std::size_t app = 0;                        ///< index of the app in services
  const Entries* declared_volumes = nullptr;  ///< none when the file declares no volumes
  std::vector<std::string> used_volumes;      ///< volume keys some mount names
  std::vector<std::size_t> start_order;       ///< indices of services, app included
};

// The steps on services, volumes and networks, in the order read_recipe runs them.
Result<void> find_services(Reading& reading);
Result<void> read_declared_volumes(Reading& reading);
Result<void> read_each_service(Reading& reading);
Result<void> read_app_port(Reading& reading, Recipe& recipe);
Result<void> check_volumes_used(const Reading& reading);
Result<void> read_networks(const Reading& reading, Recipe& recipe);
Result<void> order_services(Reading& reading, Recipe& recipe);

/// A service's "environment", each value classified.
Result<std::vector<RecipeEnv>> read_environment(const YamlValue* environment, int format,
                                                const std::vector<Secret>& secrets);

/// The initial text of the app's settings file.
std::string settings_text(std::string_view name, std::uint16_t port,
                          const std::vector<Secret>& secrets, const Recipe& recipe);

}  // namespace zelk::recipe_reading
