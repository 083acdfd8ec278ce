#include "recipe.h"
#include "utf8.h"

#include <algorithm>

#include "device_names.h"
#include "recipe_reading.h"
#include "unicode.h"

namespace zelk {

namespace recipe_reading {

// What a recipe's author wrote is quoted with its controls and direction marks visible.
std::string quoted(std::string_view text) { return "\"" + visible_text(text) + "\""; }

Result<const Entries*> as_mapping(const YamlValue& value, std::string_view where) {
  if (value.kind != YamlValue::Kind::Mapping) {
    return std::unexpected(std::string(where) + " needs settings below it, each on its own line.");
  }
  return &value.mapping;
}

Result<void> check_keys(const Entries& entries, Keys allowed, std::string_view where) {
  for (const YamlEntry& entry : entries) {
    if (std::find(allowed.begin(), allowed.end(), entry.key) != allowed.end()) continue;
    std::string list;
    for (const std::string_view key : allowed)
      list += (list.empty() ? "" : ", ") + std::string(key);
    return std::unexpected(std::string(where) + " has " + quoted(entry.key) +
                           ", which the Zelk does not run. It runs: " + list + ".");
  }
  return {};
}

const YamlValue* find_entry(const Entries& entries, std::string_view key) {
  for (const YamlEntry& entry : entries) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

Result<std::string> required_text(const Entries& entries, std::string_view key,
                                  std::string_view where) {
  const YamlValue* value = find_entry(entries, key);
  if (value == nullptr) return std::unexpected(std::string(where) + " has no " + quoted(key) + ".");
  const std::optional<std::string_view> text = yaml_text(*value);
  if (!text || text->empty()) {
    return std::unexpected(std::string(where) + ": " + quoted(key) + " needs a value on its line.");
  }
  return std::string(*text);
}

Result<std::optional<std::string>> optional_text(const Entries& entries, std::string_view key,
                                                 std::string_view where) {
  if (find_entry(entries, key) == nullptr) return std::optional<std::string>();
  Result<std::string> text = required_text(entries, key, where);
  if (!text) return std::unexpected(std::move(text.error()));
  return std::optional<std::string>(std::move(*text));
}

Result<void> one_line_text(std::string_view value, std::string_view key, std::size_t limit) {
  if (count_characters(value) > limit) {
    return std::unexpected("x-zelk: " + quoted(key) + " is longer than " + std::to_string(limit) +
                           " characters.");
  }
  // Names and summaries are shown everywhere as they stand: a mark that turns the reading
  // direction would make them read as another text.
  if (has_control_character(value) || has_bidi_control(value)) {
    return std::unexpected("x-zelk: " + quoted(key) + " is one line of plain text.");
  }
  return {};
}

Result<void> check_path(std::string_view value, std::string_view key) {
  if (value.size() > 200 || !value.starts_with('/') || has_white_space_or_control(value)) {
    return std::unexpected("x-zelk: " + quoted(key) +
                           " is a path on the app's own address, for example \"/\" or "
                           "\"/health\".");
  }
  return {};
}

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t largest) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > largest) return std::nullopt;
  }
  return value;
}

namespace {

bool is_small_letter(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_app_id(std::string_view id) {
  if (id.size() < 2 || id.size() > 32 || !is_small_letter(id.front())) return false;
  return std::all_of(id.begin(), id.end(),
                     [](char c) { return is_small_letter(c) || is_digit(c) || c == '-'; });
}

bool is_variable_name(std::string_view name) {
  const auto letter = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  };
  if (name.empty() || !letter(name.front())) return false;
  return std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || is_digit(c); });
}

std::string service_where(std::string_view key) { return "The service " + quoted(key); }

}  // namespace recipe_reading

using namespace recipe_reading;

namespace {

// Every container, volume and network of an app is named "torvo-<id>...": an id that starts so
// could take another app's names (its network alias among them). And Windows makes no file of
// a device name, so such an id could not keep its settings there.
Result<void> check_id_is_free(std::string_view id) {
  if (id.starts_with("torvo-")) {
    return std::unexpected(
        "x-zelk: \"id\" cannot begin with \"torvo-\": the Zelk names the containers and volumes of "
        "every app that way. Choose an id without it.");
  }
  if (is_device_name(id)) {
    return std::unexpected("x-zelk: \"id\" cannot be \"" + std::string(id) +
                           "\": Windows keeps that name for a device. Choose another id.");
  }
  return {};
}

constexpr std::string_view top_keys[] = {"name",     "services", "volumes",
                                         "networks", "x-zelk",   "x-podman"};
constexpr std::string_view xzelk_keys[] = {
    "format",         "id",      "name",   "category", "summary",    "port", "ready", "open",
    "fallback-image", "secrets", "lesson", "disk-mb",  "starts-used"};

Result<void> read_secrets(Reading& reading) {
  const YamlValue* value = find_entry(*reading.xzelk, "secrets");
  if (value == nullptr) return {};
  Result<const Entries*> entries = as_mapping(*value, "x-zelk: \"secrets\"");
  if (!entries) return std::unexpected(std::move(entries.error()));
  for (const YamlEntry& entry : **entries) {
    const std::optional<std::string_view> text = yaml_text(entry.value);
    const std::optional<std::uint64_t> length = text ? parse_number(*text, 64) : std::nullopt;
    if (!length || *length < 16) {
      return std::unexpected("x-zelk: the secret " + entry.key +
                             " needs its length in bytes, 16 to 64.");
    }
    if (!is_variable_name(entry.key) || entry.key == "TORVO_PORT") {
      return std::unexpected("x-zelk: " + quoted(entry.key) + " cannot be the name of a secret.");
    }
    reading.secrets.push_back({entry.key, static_cast<std::uint32_t>(*length)});
  }
  return {};
}

/// Whether the app actually uses the apps whose network it joins when it starts.
Result<bool> read_starts_used(const Reading& reading, const Recipe& recipe) {
  const YamlValue* value = find_entry(*reading.xzelk, "starts-used");
  if (value == nullptr) return true;
  if (recipe.uses.empty()) {
    return std::unexpected(
        "x-zelk: \"starts-used\" is for an app that joins the network of another app.");
  }
  const std::optional<std::string_view> text = yaml_text(*value);
  if (text == "true") return true;
  if (text == "false") return false;
  return std::unexpected("x-zelk: \"starts-used\" is \"true\" or \"false\".");
}

Result<void> check_secrets_used(const Reading& reading) {
  for (const Secret& secret : reading.secrets) {
    bool used = false;
    for (const Service& service : reading.services) {
      for (const RecipeEnv& env : service.environment) {
        for (const auto& [name, length] : env_secrets(env.value))
          used = used || name == secret.name;
      }
    }
    if (!used) {
      return std::unexpected("x-zelk lists the secret " + secret.name +
                             ", but no line under \"environment\" uses it as ${" + secret.name +
                             "}.");
    }
  }
  return {};
}

Result<std::optional<std::string>> read_lesson(const Reading& reading) {
  const YamlValue* value = find_entry(*reading.xzelk, "lesson");
  if (value == nullptr) return std::optional<std::string>();
  const std::optional<std::string_view> text = yaml_text(*value);
  if (!text || text->size() > 200 || !text->starts_with("https://") ||
      has_white_space_or_control(*text)) {
    return std::unexpected("x-zelk: \"lesson\" is a web address that starts with https://.");
  }
  return std::optional<std::string>(std::string(*text));
}

Result<std::uint32_t> read_disk_mb(const Reading& reading) {
  const YamlValue* value = find_entry(*reading.xzelk, "disk-mb");
  if (value == nullptr) return 0;
  const std::optional<std::string_view> text = yaml_text(*value);
  const std::optional<std::uint64_t> number = text ? parse_number(*text, 200000) : std::nullopt;
  if (!number || *number < 1) {
    return std::unexpected(
        "x-zelk: \"disk-mb\" is what the app takes on disk once downloaded, in MB, from 1 to 200000, "
        "for example 1200.");
  }
  return static_cast<std::uint32_t>(*number);
}

}  // namespace

std::expected<Recipe, std::string> read_recipe(std::string_view text) {
  const std::expected<YamlValue, std::string> root = read_yaml(without_byte_order_mark(text));
  if (!root) return std::unexpected(root.error());

  Reading reading;
  Recipe recipe;
  {
    Result<const Entries*> top = as_mapping(*root, "The file");
    if (!top) return std::unexpected(std::move(top.error()));
    reading.top = *top;
  }
  ZELK_TRY(check_keys(*reading.top, top_keys, "The file"));

  const YamlValue* xzelk = find_entry(*reading.top, "x-zelk");
  if (xzelk == nullptr) {
    return std::unexpected(
        "The file has no \"x-zelk\" block. It tells the Zelk the app's name, its port and how to "
        "see that it is ready.");
  }
  {
    Result<const Entries*> entries = as_mapping(*xzelk, "x-zelk");
    if (!entries) return std::unexpected(std::move(entries.error()));
    reading.xzelk = *entries;
  }
  ZELK_TRY(check_keys(*reading.xzelk, xzelk_keys, "x-zelk"));

  Result<std::string> format = required_text(*reading.xzelk, "format", "x-zelk");
  if (!format) return std::unexpected(std::move(format.error()));
  if (*format != "1" && *format != "2") {
    return std::unexpected("x-zelk: this Zelk reads formats 1 and 2; the file says format " +
                           visible_text(*format) + ".");
  }
  reading.format = *format == "1" ? 1 : 2;

  Result<std::string> id = required_text(*reading.xzelk, "id", "x-zelk");
  if (!id) return std::unexpected(std::move(id.error()));
  if (!is_app_id(*id)) {
    return std::unexpected(
        "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter.");
  }
  ZELK_TRY(check_id_is_free(*id));
  reading.id = *id;
  reading.container = "torvo-" + reading.id;

  Result<std::string> port_text = required_text(*reading.xzelk, "port", "x-zelk");
  if (!port_text) return std::unexpected(std::move(port_text.error()));
  const std::optional<std::uint64_t> port = parse_number(*port_text, 65535);
  if (!port || *port < 1024) {
    return std::unexpected(
        "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535.");
  }
  recipe.port = static_cast<std::uint16_t>(*port);

  ZELK_TRY(read_secrets(reading));

  if (const YamlValue* name = find_entry(*reading.top, "name");
      name != nullptr && yaml_text(*name) != reading.container) {
    return std::unexpected("\"name\" is " + quoted(reading.container) + " for the app " +
                           quoted(reading.id) + ", or left out.");
  }

  ZELK_TRY(find_services(reading));
  ZELK_TRY(read_declared_volumes(reading));
  ZELK_TRY(read_each_service(reading));
  ZELK_TRY(read_app_port(reading, recipe));
  ZELK_TRY(check_volumes_used(reading));
  ZELK_TRY(read_networks(reading, recipe));

  const Result<bool> starts_used = read_starts_used(reading, recipe);
  if (!starts_used) return std::unexpected(starts_used.error());
  recipe.starts_used = *starts_used;

  ZELK_TRY(check_secrets_used(reading));
  ZELK_TRY(order_services(reading, recipe));

  Result<std::string> name = required_text(*reading.xzelk, "name", "x-zelk");
  if (!name) return std::unexpected(std::move(name.error()));
  ZELK_TRY(one_line_text(*name, "name", 40));

  Service& app = reading.services[reading.app];
  recipe.id = reading.id;
  recipe.name = *name;
  recipe.container = reading.container;
  recipe.image = std::move(app.image);
  recipe.command = std::move(app.command);
  recipe.environment = std::move(app.environment);
  recipe.volumes = std::move(app.volumes);
  recipe.settings = settings_text(recipe.name, recipe.port, reading.secrets, recipe);

  Result<std::string> category = required_text(*reading.xzelk, "category", "x-zelk");
  if (!category) return std::unexpected(std::move(category.error()));
  ZELK_TRY(one_line_text(*category, "category", 30));
  Result<std::string> summary = required_text(*reading.xzelk, "summary", "x-zelk");
  if (!summary) return std::unexpected(std::move(summary.error()));
  ZELK_TRY(one_line_text(*summary, "summary", 160));

  Result<std::string> ready = required_text(*reading.xzelk, "ready", "x-zelk");
  if (!ready) return std::unexpected(std::move(ready.error()));
  ZELK_TRY(check_path(*ready, "ready"));
  Result<std::optional<std::string>> open = optional_text(*reading.xzelk, "open", "x-zelk");
  if (!open) return std::unexpected(std::move(open.error()));
  const std::string open_path = open->value_or("/");
  ZELK_TRY(check_path(open_path, "open"));

  Result<std::optional<std::string>> lesson = read_lesson(reading);
  if (!lesson) return std::unexpected(std::move(lesson.error()));
  const Result<std::uint32_t> disk_mb = read_disk_mb(reading);
  if (!disk_mb) return std::unexpected(disk_mb.error());

  recipe.lesson = std::move(*lesson);
  recipe.category = std::move(*category);
  recipe.summary = std::move(*summary);
  recipe.ready = std::move(*ready);
  recipe.open = open_path;
  recipe.disk_mb = *disk_mb;
  recipe.from = "";
  recipe.built_in = false;
  return recipe;
}

std::vector<std::string> container_names(const Recipe& recipe) {
  std::vector<std::string> names{recipe.container};
  for (const RecipeService& helper : recipe.helpers) names.push_back(helper.container);
  return names;
}

std::vector<std::string> volume_names(const Recipe& recipe) {
  std::vector<std::string> names;
  for (const RecipeMount& mount : recipe.volumes) names.push_back(mount.volume);
  for (const RecipeService& helper : recipe.helpers) {
    for (const RecipeMount& mount : helper.volumes) names.push_back(mount.volume);
  }
  return names;
}

std::vector<std::pair<std::string, std::uint32_t>> env_secrets(const EnvValue& value) {
  std::vector<std::pair<std::string, std::uint32_t>> secrets;
  if (value.kind == EnvValue::Kind::Secret) secrets.emplace_back(value.name, value.length);
  if (value.kind == EnvValue::Kind::Parts) {
    for (const EnvPart& part : value.parts) {
      if (part.kind == EnvPart::Kind::Secret) secrets.emplace_back(part.name, part.length);
    }
  }
  return secrets;
}

}  // namespace zelk
