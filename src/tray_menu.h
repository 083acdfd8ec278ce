#pragma once
/// The tray menu as a model the shell renders: the title, "Open the Zelk", one submenu per app
/// (open item, stop item, separator, address item), the status item, "Refresh", "Open the
/// data folder", the update item and "Quit (apps keep running)". Items with an id send it as
/// MenuClicked. The menu is built at the start and by each reload; between those its items are
/// only retitled and enabled or disabled, here, on the loop's thread.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_app.h"
#include "workers.h"

namespace zelk {


/// The recipes and the notices of their reading: the built-in recipes alone without a data
/// folder, else the catalogue of the data folder.
SharedCatalogue read_window_catalogue(const std::optional<std::filesystem::path>& home);

/// A new menu with its entries: one per recipe in catalogue order, not read yet, with its
/// submenu carrying the recipe's name and its open and stop items disabled.
struct TrayBuild {
  std::vector<AppEntry> entries;
  TrayMenu menu;
  std::size_t status_item = 0;
  std::size_t update_item = 0;
};
TrayBuild build_tray_menu(const SharedCatalogue& catalogue, std::string_view status_text);

/// Sets the entry's submenu text ("<name>  -  <status word>", or the name alone), its open
/// item's text and enabled state (enabled while no command runs) and its stop item's enabled
/// state (also only while the app can be stopped).
void update_app_menu(TrayMenu& menu, const AppEntry& entry);

/// The entry's address item shows its address.
void show_address(TrayMenu& menu, const AppEntry& entry);

/// The page shows the text, the status item its first line, shortened (tray_line).
void set_status_line(WindowApp& app, std::string text);

/// The text becomes the status note and shows until the user acts again.
void set_status_note(WindowApp& app, std::string text);

/// The note goes (the user acts again): the status line shows the runtime line.
void clear_status_note(WindowApp& app);

/// What the states reads say; shows unless a note holds the line.
void set_runtime_line(WindowApp& app, std::string text);

/// The update item shows the known update's state (update_item_text).
void retitle_update_item(WindowApp& app);

/// Reads the catalogue again and builds the menu anew. Entries of apps that stay keep their
/// state, command, progress line and address; the first notice of the reading becomes the
/// status line; a refresh starts with the new catalogue.
void reload_apps(WindowApp& app, WindowSeams& seams);

}  // namespace zelk
