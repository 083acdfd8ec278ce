#pragma once
/// The window program's state, owned by the loop's thread: the catalogue in use with one entry
/// per app, the tray menu as a model, the status line and its note, the shelves, the known
/// update, the runtime as last read, and the numbering of the states reads. Workers never see
/// it; they get shared read-only parts (the catalogue, recipes) and report by events.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "envfile.h"
#include "loop_seams.h"
#include "shelf.h"
#include "window_events.h"
#include "window_services.h"
#include "window_texts.h"
#include "workers.h"

namespace zelk {

/// One app as the window knows it.
struct AppEntry {
  /// "" until the first successful states read, then the app's address.
  std::string address;
  /// The last progress line of the app's running command while busy, else "".
  std::string message;
  /// The state as last read; Unknown before the first read and after a failed one.
  AppState status = AppState::unknown();
  /// The app's containers the last successful read listed (a helper may stand without the
  /// app's own container).
  std::vector<std::string> containers;
  /// The recipe, sharing the ownership of the catalogue it lies in.
  std::shared_ptr<const Recipe> recipe;
  /// Where the app's submenu lies among the tray menu's items (open item, stop item,
  /// separator, address item).
  std::size_t submenu = 0;
  /// The command running for the app: "open", "stop", "remove", "model" or "backup".
  std::optional<std::string> busy;
  /// The command has ended; a states read numbered `clear_from` or later makes the entry idle.
  bool finished = false;
  std::uint64_t clear_from = 0;
};

/// The program's state.
struct WindowApp {
  SharedCatalogue catalogue;
  std::vector<AppEntry> entries;

  /// The tray menu as it should look, with where its status item and update item lie.
  TrayMenu menu;
  std::size_t status_item = 0;
  std::size_t update_item = 0;
  std::string tooltip;

  /// The text the page shows; the tray's status item shows its first line, shortened. It is
  /// the note when there is one, else the runtime line.
  std::string status_line;
  /// What the user's last action came to (or what went wrong without one): it holds the status
  /// line over later states reads, until the next page word or menu click (or until the runtime
  /// comes back after a failed read).
  std::optional<std::string> status_note;
  /// What the states reads say: "Starting what was running before ..." until the first read
  /// after the resume, then "<runtime> is running" or why the runtime could not be read.
  std::string runtime_line;

  std::vector<ShelfView> shelves;
  /// Shelf requests run one at a time in the order asked: the number of the last one started
  /// (numbered from 1), of the one at work (0 for none), the ones waiting, and the number of
  /// the newest shelves read shown (an older read that arrives later is dropped).
  std::uint64_t shelf_requests_started = 0;
  std::uint64_t shelf_request_at_work = 0;
  std::deque<std::optional<ShelfWord>> shelf_requests_waiting;
  /// What the one at work does (none: it only reads the shelves).
  std::optional<ShelfWord> shelf_word_at_work;
  std::uint64_t newest_shelves = 0;

  std::optional<KnownUpdate> update;
  /// The runtime's display name from the last successful states read.
  std::string runtime_name = "Podman";
  LoopClock::time_point last_refresh{};
  /// From the start until the resume worker has reported.
  bool resuming = true;
  /// None until the first states read, then whether it succeeded.
  std::optional<bool> runtime_ok;

  /// The number of the last refresh started (refreshes are numbered from 1), and of the newest
  /// states read applied: an older read that arrives later is dropped.
  std::uint64_t refreshes_started = 0;
  std::uint64_t newest_read = 0;

  /// The menu and tooltip the shell shows now, so each change is handed over once.
  TrayMenu shown_menu;
  std::string shown_tooltip;
};

/// The seams the loop's handlers reach the system through.
struct WindowSeams {
  Shell& shell;
  std::shared_ptr<const LoopProxy> proxy;
  WindowServices services;

  std::optional<std::filesystem::path> home() const { return services.workers->data_folder(); }
};

/// The entry of the app with that id, or null.
AppEntry* find_entry(WindowApp& app, std::string_view id);

}  // namespace zelk
