#pragma once
/// What a page word or a tray-menu id does: start an app command, open a folder, a console or
/// another program, fetch shelves, check, add, take or forget recipes, show an app's
/// passwords, look for or install an update. Runs on the loop's thread; slow work goes to the
/// workers. Words that match nothing, busy apps and commands an app's state does not allow are
/// ignored without a message.
#include <string>
#include <string_view>

#include "window_app.h"

namespace zelk {

/// Carries out one page word or menu id: a whole word ("refresh", "data", "setup", "desktop",
/// "desktop-get", "terminal", "update", "update-look", "shelves"), or a word and an argument
/// split at the first ":" (the argument may hold more colons). Clears the status note first.
void handle_page_message(WindowApp& app, WindowSeams& seams, std::string_view text);

/// "preview" admits the recipe text against the catalogue; "add" keeps it in the data folder
/// and reloads the apps. The page gets the outcome while the window is open.
void preview_or_add(WindowApp& app, WindowSeams& seams, std::string_view word, std::string_view text);

/// Keeps the fetched recipe offered at the address (with its origin), marks the offers of
/// its id as added or changed, reloads the apps, opens the app when `install` is set, and hands
/// the page the shelves again. A failure becomes the status note; the shelves are not sent.
void take_shelf_recipe(WindowApp& app, WindowSeams& seams, std::string_view address, bool install);

}  // namespace zelk
