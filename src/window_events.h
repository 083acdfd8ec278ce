#pragma once
/// The window program's events: what the tray, the page, the show-window watcher and the
/// worker threads hand to the event loop, and what the loop answers with. Plain values, so
/// they may be made on any thread and moved into the loop.
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "envfile.h"
#include "recipe.h"
#include "shelf.h"
#include "update.h"

namespace zelk {

/// A tray-menu item was clicked; `id` is the item's id text ("quit", "open:gitea", ...).
struct MenuClicked {
  std::string id;
};

/// A text the page posted, unchanged (it may be empty).
struct PageMessage {
  std::string text;
};

/// A tray event or the loop's wake-up asks for a fresh read of the app states.
struct RefreshTick {};

/// Show the window: make it when there is none, else restore and focus it.
struct ShowWindow {};

/// One app as a states read found it.
struct StateRow {
  AppState state;
  std::string address;  ///< "http://127.0.0.1:<port><open path>"
  std::string id;       ///< the recipe id
  /// The app's containers (main first, then its helpers) that the runtime listed.
  std::vector<std::string> containers;
  bool operator==(const StateRow&) const = default;
};

/// What a successful states read found: a row per recipe and the runtime's display name.
struct StatesFound {
  std::vector<StateRow> rows;
  std::string runtime_name;
};

/// The result of one states read. `number` is the number the loop gave that refresh when it
/// started it, so a read that was overtaken by a newer one can be told apart.
struct StatesRead {
  std::uint64_t number = 0;
  std::expected<StatesFound, std::string> result;
};

/// The resume worker ended.
struct Resumed {
  std::expected<void, std::string> result;
};

/// A shelf fetch ended: the problem of the word it carried out (if any) and every shelf as
/// gathered now. `number` is the number the loop gave the request when it started it.
struct ShelvesRead {
  std::optional<std::string> problem;
  std::vector<ShelfView> shelves;
  std::uint64_t number = 0;
};

/// A look for a newer version ended: an offer (Found), none (NoNewer) or the message (Failed).
/// `asked` is true when the user asked for the look, and for the update thread's own failures
/// (an unexpected error, a thread that could not start): only an asked look's outcome is shown.
struct UpdateChecked {
  std::expected<std::optional<UpdateOffer>, std::string> outcome;
  bool asked = false;
};

/// The installer of an update was fetched and started, or the message why not.
struct UpdateInstalled {
  std::expected<void, std::string> result;
};

/// An app command ended. The recipe pointer shares ownership of the catalogue it lies in, so
/// the recipe stays valid however long the event waits in the queue.
struct CommandDone {
  std::expected<void, std::string> result;
  std::shared_ptr<const Recipe> recipe;
};

/// One line an app command wrote, without its line feed.
struct CommandLine {
  std::string line;
  std::shared_ptr<const Recipe> recipe;
};

/// The window's web view failed after the window was made (its runtime, or the page's load);
/// the text says why. The window is dead: the loop drops it.
struct WebViewFailed {
  std::string why;
};

/// The loop's own events, in this order.
using UserEvent = std::variant<MenuClicked, PageMessage, RefreshTick, ShowWindow, StatesRead, Resumed,
                               ShelvesRead, UpdateChecked, UpdateInstalled, CommandDone, CommandLine,
                               WebViewFailed>;

/// The loop has started: the first event it ever handles.
struct LoopStarted {};
/// The user asked to close the window.
struct WindowCloseRequested {};
/// The deadline of a WaitUntil passed; handled as a RefreshTick.
struct WaitDeadlineReached {};

/// Everything the loop's handler is given.
using LoopEvent = std::variant<LoopStarted, WindowCloseRequested, WaitDeadlineReached, UserEvent>;

using LoopClock = std::chrono::steady_clock;

/// What the loop does after an event: wait for the next one, wait until a deadline at the
/// latest, or end the process with an exit code.
struct ControlFlow {
  enum class Kind { Wait, WaitUntil, Exit };
  Kind kind = Kind::Wait;
  LoopClock::time_point deadline{};  ///< WaitUntil only
  int exit_code = 0;                 ///< Exit only

  static ControlFlow wait() { return {}; }
  static ControlFlow wait_until(LoopClock::time_point at) { return {Kind::WaitUntil, at, 0}; }
  static ControlFlow exit(int code) { return {Kind::Exit, {}, code}; }
  bool operator==(const ControlFlow&) const = default;
};

}  // namespace zelk
