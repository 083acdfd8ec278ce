#include "envfile.h"

#include <system_error>

#include "files.h"
#include "lines.h"
#include "platform.h"
#include "runner.h"
#include "unicode.h"
#include "utf8.h"
#include "zelk/context.h"

namespace zelk {

namespace {

bool sets_key(std::string_view line, std::string_view key) {
  return line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=';
}

void add_secret(std::vector<std::pair<std::string, std::uint32_t>>& secrets, const std::string& name,
                std::uint32_t length) {
  for (const auto& known : secrets) {
    if (known.first == name) return;
  }
  secrets.emplace_back(name, length);
}

void add_secrets_of(std::vector<std::pair<std::string, std::uint32_t>>& secrets,
                    const std::vector<RecipeEnv>& environment) {
  for (const RecipeEnv& entry : environment) {
    for (const auto& [name, length] : env_secrets(entry.value)) add_secret(secrets, name, length);
  }
}

}  // namespace

std::filesystem::path app_folder(const std::filesystem::path& home, std::string_view id) {
  return home / "apps" / path_from_utf8(id);
}

std::filesystem::path settings_path(const std::filesystem::path& home, std::string_view id) {
  return app_folder(home, id) / ".env";
}

std::filesystem::path settings_key_path(const std::filesystem::path& home) { return home / "settings-key"; }

std::filesystem::path running_marker_path(const std::filesystem::path& home, std::string_view id) {
  return app_folder(home, id) / "running";
}

namespace {

// The app's folder, or the "apps" folder above it, when it is a link: the link would lead the
// secrets out of the data folder.
std::optional<std::filesystem::path> linked_app_folder(const std::filesystem::path& home, std::string_view id) {
  for (const std::filesystem::path& folder : {home / "apps", app_folder(home, id)}) {
    std::error_code error;
    if (std::filesystem::is_symlink(std::filesystem::symlink_status(folder, error))) return folder;
  }
  return std::nullopt;
}

constexpr std::string_view is_a_link =
    "a link to another place, and the Zelk keeps an app's settings and passwords inside its data folder only. "
    "Put a folder of that name in place of the link (with what the link leads to, if you want to keep it), then "
    "try again.";

}  // namespace

std::expected<void, std::string> keep_app_folder_private(const std::filesystem::path& home, std::string_view id) {
  if (const auto linked = linked_app_folder(home, id)) {
    return std::unexpected("The folder \"" + path_to_utf8(*linked) + "\" is " + std::string(is_a_link));
  }
  for (const std::filesystem::path& path : {home, home / "apps", app_folder(home, id), settings_path(home, id)}) {
    keep_private(path);
  }
  return {};
}

std::optional<std::string> read_settings(const std::filesystem::path& home, std::string_view id) {
  if (!keep_app_folder_private(home, id)) return std::nullopt;
  auto bytes = read_file(settings_path(home, id));
  if (!bytes || !is_valid_utf8(*bytes)) return std::nullopt;
  return std::string(without_byte_order_mark(*bytes));
}

std::expected<void, std::string> write_settings(const std::filesystem::path& home,
                                                std::string_view id, std::string_view text) {
  // The file holds the app's secrets: its folders, the data folder first, are the user's alone.
  if (const auto linked = linked_app_folder(home, id)) {
    return std::unexpected("in the folder \"" + path_to_utf8(*linked) + "\": it is " + std::string(is_a_link));
  }
  auto written = make_data_folder(home, std::filesystem::path("apps") / path_from_utf8(id));
  if (written) written = write_file_atomically(settings_path(home, id), text);
  // The user can look into the folder, or free it, only when the message names it.
  if (!written) {
    return std::unexpected("in the folder \"" + path_to_utf8(app_folder(home, id)) + "\": " + written.error());
  }
  return {};
}

std::optional<std::string> setting_value(std::string_view text, std::string_view key) {
  for (std::string_view line : split_lines(text)) {
    if (sets_key(line, key)) return std::string(trim_white_space(line.substr(key.size() + 1)));
  }
  return std::nullopt;
}

std::optional<std::uint16_t> settings_port(std::string_view text) {
  const std::optional<std::string> value = setting_value(text, "TORVO_PORT");
  if (!value) return std::nullopt;
  std::string_view digits = *value;
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (digits.empty()) return std::nullopt;
  std::uint32_t port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<std::uint32_t>(c - '0');
    if (port > 65535) return std::nullopt;
  }
  if (port == 0) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

std::uint16_t app_port(const std::filesystem::path& home, const Recipe& recipe) {
  const std::optional<std::string> text = read_settings(home, recipe.id);
  if (!text) return recipe.port;
  return settings_port(*text).value_or(recipe.port);
}

std::string app_address(const std::filesystem::path& home, const Recipe& recipe) {
  return "http://127.0.0.1:" + std::to_string(app_port(home, recipe)) + recipe.open;
}

std::string set_setting(std::string_view text, std::string_view key, std::string_view value) {
  std::string result;
  result.reserve(text.size() + key.size() + value.size() + 2);
  bool replaced = false;
  for (std::string_view line : split_lines(text)) {
    if (!replaced && sets_key(line, key)) {
      result.append(key).append("=").append(value);
      replaced = true;
    } else {
      result.append(line);
    }
    result.push_back('\n');
  }
  if (!replaced) result.append(key).append("=").append(value).push_back('\n');
  return result;
}

std::string setting_or_default(std::string_view text, std::string_view name,
                               std::string_view default_value) {
  std::optional<std::string> value = setting_value(text, name);
  if (value && !value->empty()) return std::move(*value);
  return std::string(default_value);
}

std::expected<std::string, std::string> secret_setting(const Recipe& recipe, std::string_view text,
                                                       std::string_view name) {
  std::optional<std::string> value = setting_value(text, name);
  if (value && !value->empty()) return std::move(*value);
  return std::unexpected("The settings of " + recipe.name + " have no " + std::string(name) + ".");
}

std::vector<std::pair<std::string, std::uint32_t>> secrets_in_use(const Recipe& recipe) {
  std::vector<std::pair<std::string, std::uint32_t>> secrets;
  add_secrets_of(secrets, recipe.environment);
  for (const RecipeService& helper : recipe.helpers) add_secrets_of(secrets, helper.environment);
  return secrets;
}

bool running_marker_exists(const std::filesystem::path& home, std::string_view id) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::symlink_status(running_marker_path(home, id), error);
  if (error) return false;
  return std::filesystem::exists(status);
}

// The marker is all "resume" goes by, so one that stays as it was after a start or a stop is
// said, or a later resume does what the user did not ask for.
std::optional<std::string> write_running_marker(const std::filesystem::path& home, const Recipe& recipe) {
  if (running_marker_exists(home, recipe.id)) return std::nullopt;
  auto written = write_file_atomically(running_marker_path(home, recipe.id), "");
  if (written) return std::nullopt;
  return "The running marker of " + recipe.name + " could not be written in " +
         path_to_utf8(app_folder(home, recipe.id)) + ": " + written.error() + ". After a restart, \"zelk resume\" " +
         "will not start " + recipe.name + "; start it yourself then: zelk start " + recipe.id;
}

std::optional<std::string> delete_running_marker(const std::filesystem::path& home, const Recipe& recipe) {
  // On a read-only file system even a marker that is not there "cannot be deleted".
  if (!running_marker_exists(home, recipe.id)) return std::nullopt;
  std::error_code error;
  std::filesystem::remove(running_marker_path(home, recipe.id), error);
  if (!error || error == std::errc::no_such_file_or_directory) return std::nullopt;
  return "The running marker of " + recipe.name + " could not be deleted from " +
         path_to_utf8(app_folder(home, recipe.id)) + ": " + error_code_text(error) + ". After a restart, \"zelk " +
         "resume\" will start " + recipe.name + " again, unless you delete the file " +
         path_to_utf8(running_marker_path(home, recipe.id)) + ".";
}

std::vector<const Recipe*> next_left_running(const std::filesystem::path& home,
                                             std::span<const Recipe> recipes) {
  std::vector<const Recipe*> left;
  for (const Recipe& recipe : recipes) {
    if (running_marker_exists(home, recipe.id)) left.push_back(&recipe);
  }
  return left;
}

std::optional<AppState> state_of_containers(const Recipe& recipe, const ContainerMap& containers) {
  const auto main = containers.find(recipe.container);
  if (main == containers.end()) return AppState::not_installed();
  if (main->second.state != "running") return AppState::state(main->second.state);
  for (const RecipeService& helper : recipe.helpers) {
    const auto found = containers.find(helper.container);
    if (found == containers.end() || found->second.state != "running") {
      return AppState::state("partly running");
    }
  }
  return std::nullopt;
}

std::optional<std::uint16_t> probe_app(const CommandContext& ctx, const Recipe& recipe) {
  return ctx.probe(app_port(ctx.home, recipe), recipe.ready);
}

AppState state_of_status(std::optional<std::uint16_t> status) {
  if (status && *status >= 200 && *status <= 299) return AppState::ready();
  return AppState::starting();
}

AppState app_state(const CommandContext& ctx, const Recipe& recipe, const ContainerMap& containers) {
  if (std::optional<AppState> known = state_of_containers(recipe, containers)) return std::move(*known);
  return state_of_status(probe_app(ctx, recipe));
}

}  // namespace zelk
