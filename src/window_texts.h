#pragma once
/// The small text rules the tray menu and the page share: an app's status word, the label of
/// its open action, whether it can be stopped or forgotten, the one-line form of a message and
/// the look of the update item. AppState's Kind::Unknown stands for a state not read (yet).

#include <optional>
#include <string>
#include <string_view>

#include "envfile.h"
#include "update.h"

namespace zelk {

/// "Valdroven AI Zelk <version>": the tray's title item and tooltip, and the window's title.
std::string program_title();

/// What an app shows beside its name. A busy word wins: "stop" -> "stopping ...", "remove" ->
/// "removing ...", "model" -> "fetching a model ...", "backup" -> "backing up ...", any other
/// (that is "open") -> "starting ...". Without one, by state: Unknown -> none, NotInstalled ->
/// "not installed", Starting -> "starting ...", Ready -> "running", "partly running" ->
/// "partly running", any other runtime word -> "stopped".
std::optional<std::string> app_status_word(const AppState& status, const std::optional<std::string>& busy);

/// "Open" for Ready, "Install and open" for NotInstalled, "Start and open" otherwise.
std::string open_label(const AppState& status);

/// True for Starting, Ready and "partly running".
bool can_stop(const AppState& status);

/// True only for an added recipe whose app is known not to be installed.
bool can_forget(bool built_in, const AppState& status);

/// The first line that is not blank, trimmed at both ends, whole; "" when every line is blank.
/// Lines end at "\n" (a "\r" before it is dropped). A byte that is not part of well-formed
/// UTF-8 reads as U+FFFD, so the result is always valid UTF-8. The page shows a message so.
std::string first_line(std::string_view text);

/// first_line shortened to 90 characters by the one rule (shorten_text): an app's progress line.
std::string first_line_short(std::string_view text);

/// The tray menu's status item for a status text: its first line, control characters as
/// blanks, shortened to 90 characters, so that a long note never breaks the menu.
std::string tray_line(std::string_view text);

/// The status note of a failed app command: the message's first line after "<name>: " unless
/// it begins with the app's name already; and when the message quotes what a program said (a
/// line "It said: <cause>"), that as a second line, "It said: <cause>". Both lines are whole:
/// the page has room for the cause, and the tray shows the first line shortened.
std::string command_error_note(std::string_view name, std::string_view error);

/// A newer version the program knows of: the offer, the message of the last failed install,
/// and whether an install is under way.
struct KnownUpdate {
  UpdateOffer offer;
  std::optional<std::string> problem;
  bool installing = false;
};

/// The text and enabled state of one menu item.
struct ItemLook {
  std::string text;
  bool enabled = true;
  bool operator==(const ItemLook&) const = default;
};

/// The update item: "Look for a newer version" with no known update, "Update to version
/// <version>" for a known one, "Updating ..." (disabled) while it is installed.
ItemLook update_item_text(const std::optional<KnownUpdate>& update);

}  // namespace zelk
