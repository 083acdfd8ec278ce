#pragma once
/// An app's settings file (<home>/apps/<id>/.env, NAME=value lines), its `running` marker and
/// the state of an app as the list, the window and the start logic see it. Nothing here keeps
/// state; every function may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recipe.h"
#include "runtime.h"

namespace zelk {

struct CommandContext;

/// <home>/apps/<id>
std::filesystem::path app_folder(const std::filesystem::path& home, std::string_view id);

/// <home>/apps/<id>/.env
std::filesystem::path settings_path(const std::filesystem::path& home, std::string_view id);

/// <home>/settings-key: the data folder's own random key for the digests of the apps' secret
/// values on their containers, 64 hexadecimal digits, readable by its owner only.
std::filesystem::path settings_key_path(const std::filesystem::path& home);

/// <home>/apps/<id>/running: an empty file that says the app was left running.
std::filesystem::path running_marker_path(const std::filesystem::path& home, std::string_view id);

/// Nothing when the app's folder is a folder in the data folder, or not there yet; else the
/// sentence that refuses it: a link in its place would keep the app's secrets in another
/// place. Every time it is asked, the data folder, its "apps" folder, the app's folder and its
/// settings file lose any rights of group and others (keep_private), so a file that was left
/// readable to others is the user's alone again once it is read, even when nothing changes.
std::expected<void, std::string> keep_app_folder_private(const std::filesystem::path& home, std::string_view id);

/// The settings file of the app as UTF-8 text, or none when it is missing, unreadable or not
/// UTF-8, or when the app's folder is refused (keep_app_folder_private).
std::optional<std::string> read_settings(const std::filesystem::path& home, std::string_view id);

/// Writes the settings file, making the app's folder first; a link in the folder's place is
/// refused (keep_app_folder_private). The file holds generated secrets, so it is replaced in
/// one step (write_file_atomically): a failed write leaves the old file.
/// The error names the app's folder for the caller's sentence to end with: "in the folder
/// "<folder>": <the system's text>".
std::expected<void, std::string> write_settings(const std::filesystem::path& home,
                                                std::string_view id, std::string_view text);

/// The trimmed value of the first line that begins exactly with "<key>=", or none.
std::optional<std::string> setting_value(std::string_view text, std::string_view key);

/// TORVO_PORT as a port from 1 to 65535, or none.
std::optional<std::uint16_t> settings_port(std::string_view text);

/// The settings file's TORVO_PORT, else the recipe's port.
std::uint16_t app_port(const std::filesystem::path& home, const Recipe& recipe);

/// "http://127.0.0.1:<app_port><open path>"
std::string app_address(const std::filesystem::path& home, const Recipe& recipe);

/// The text with the first "<key>=" line replaced by "<key>=<value>" (appended when there is
/// none); every line ends with "\n".
std::string set_setting(std::string_view text, std::string_view key, std::string_view value);

/// The setting's value when present and not empty, else the default.
std::string setting_or_default(std::string_view text, std::string_view name,
                               std::string_view default_value);

/// The secret's value, or "The settings of <recipe name> have no <name>." when its line is
/// missing or empty.
std::expected<std::string, std::string> secret_setting(const Recipe& recipe, std::string_view text,
                                                       std::string_view name);

/// Every secret the app's environments refer to as (name, length): the app's entries in
/// order, then each helper's in helper order; each name once, with its first length.
std::vector<std::pair<std::string, std::uint32_t>> secrets_in_use(const Recipe& recipe);

/// Whether the app's running marker exists; a marker that cannot be inspected counts as absent.
bool running_marker_exists(const std::filesystem::path& home, std::string_view id);

/// Writes the app's running marker (empty) unless it exists already. When it cannot be
/// written, gives the line that says so, with the folder and what that means for "resume".
std::optional<std::string> write_running_marker(const std::filesystem::path& home, const Recipe& recipe);

/// Deletes the app's running marker; one that is not there is fine. When it will not go,
/// gives the line that says so, with the folder and what that means for "resume".
std::optional<std::string> delete_running_marker(const std::filesystem::path& home, const Recipe& recipe);

/// The recipes, in their order, whose running marker exists: the apps to bring back.
std::vector<const Recipe*> next_left_running(const std::filesystem::path& home,
                                             std::span<const Recipe> recipes);

/// The state of one app.
struct AppState {
  enum class Kind {
    NotInstalled,  ///< the app's main container does not exist
    State,         ///< it exists but does not run: the runtime's word, or "partly running"
    Starting,      ///< all containers run, the ready address gave no 2xx answer
    Ready,         ///< all containers run and the ready address answered 2xx
    Unknown,       ///< the state could not be read (the window's; app_state never gives it)
  };
  Kind kind = Kind::NotInstalled;
  std::string text;  ///< Kind::State only

  static AppState not_installed() { return {Kind::NotInstalled, {}}; }
  static AppState state(std::string word) { return {Kind::State, std::move(word)}; }
  static AppState starting() { return {Kind::Starting, {}}; }
  static AppState ready() { return {Kind::Ready, {}}; }
  static AppState unknown() { return {Kind::Unknown, {}}; }
  bool operator==(const AppState&) const = default;
};

/// The app's state from the container map; probes the app's ready path when all of its
/// containers run (so it blocks as long as the probe takes).
AppState app_state(const CommandContext& ctx, const Recipe& recipe, const ContainerMap& containers);

/// The two halves of app_state. The state the containers alone give, or none when all of the
/// app's containers run and its ready address decides.
std::optional<AppState> state_of_containers(const Recipe& recipe, const ContainerMap& containers);
/// The status the app's ready address answers with, through the context's probe.
std::optional<std::uint16_t> probe_app(const CommandContext& ctx, const Recipe& recipe);
/// Ready for a status from 200 to 299, else Starting.
AppState state_of_status(std::optional<std::uint16_t> status);

}  // namespace zelk
