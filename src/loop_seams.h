#pragma once
/// The window program's loop meets the operating system only through the seams below: the
/// proxy that carries events into the loop, the shell that shows the tray icon, the menu and
/// the window, and the clock. The Windows program implements them with the Win32 API; tests
/// plug fakes in, so every rule of the loop runs on any system.
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_events.h"

namespace zelk {

/// Hands events to the loop. May be called from any thread; never blocks for long and never
/// drops an event while the loop runs. Gives false once the loop has ended.
class LoopProxy {
 public:
  virtual ~LoopProxy() = default;
  virtual bool send(UserEvent event) const = 0;
};

/// One entry of the tray menu. The shell shows `text` literally (an "&" is an ampersand, not
/// a mnemonic) and sends MenuClicked with `id` when an item with an id is clicked.
struct MenuItem {
  enum class Kind { Item, Separator, Submenu };
  Kind kind = Kind::Item;
  std::string id;                ///< "" for items that send nothing
  std::string text;
  bool enabled = true;
  std::vector<MenuItem> items;   ///< Submenu only
  bool operator==(const MenuItem&) const = default;
};

/// The tray menu, top to bottom.
struct TrayMenu {
  std::vector<MenuItem> items;
  bool operator==(const TrayMenu&) const = default;
};

/// The tray icon, the menu, the window with its page, and the programs the window starts.
/// Called on the loop's thread only.
class Shell {
 public:
  virtual ~Shell() = default;

  /// Shows the tray icon with the mark, the tooltip and the menu. The error is the system's
  /// text; the program cannot run without its icon.
  virtual std::expected<void, std::string> add_tray_icon(std::string_view tooltip,
                                                         const TrayMenu& menu) = 0;
  /// The menu the icon shows from now on (the whole menu each time it changes).
  virtual void set_tray_menu(const TrayMenu& menu) = 0;
  /// The tooltip; the shell cuts it at a character boundary to what the tray holds.
  virtual void set_tooltip(std::string_view text) = 0;
  /// Shows the text by the tray icon, where the user looks after a click that brought up
  /// nothing (a notification balloon); the shell cuts it at a character boundary to what the
  /// balloon holds.
  virtual void show_notice(std::string_view text) = 0;

  /// Whether the window exists (it may still be making its web view).
  virtual bool window_open() const = 0;
  /// Makes the window with its web view and the page. The error is the window or web view
  /// library's own text (the caller formats the message the user sees).
  virtual std::expected<void, std::string> open_window() = 0;
  /// Un-minimises the existing window and brings it to the front.
  virtual void raise_window() = 0;
  /// Drops the window and its web view.
  virtual void close_window() = 0;
  /// Runs a one-line script in the page; waits for the web view when it is still being made;
  /// does nothing without a window. The script's result and failure are ignored.
  virtual void run_script(std::string script) = 0;

  /// The folder the running program lies in.
  virtual std::expected<std::filesystem::path, std::string> program_folder() const = 0;
  /// Starts "cmd" in a new console window with this argument text passed unchanged (no
  /// quoting added) and, when given, this PATH; does not wait. The error is the system's text.
  virtual std::expected<void, std::string> start_console(std::string_view arguments,
                                                         std::optional<std::string> path) = 0;
  /// Starts a program with its standard streams on the null device; does not wait.
  virtual std::expected<void, std::string> start_detached(const std::filesystem::path& program) = 0;
};

/// The loop's clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LoopClock::time_point now() const = 0;
};

}  // namespace zelk
