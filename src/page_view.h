#pragma once
/// The window and what its page shows: making or raising the window, and handing the page its
/// documents. Nothing is built while there is no window.
#include <optional>
#include <string>
#include <string_view>

#include "window_app.h"

namespace zelk {

/// "The window could not be opened: <error>"
std::string window_open_failure(std::string_view error);

/// Makes the window when there is none (a failure is shown by window_failed and, since the
/// user saw nothing open, by the tray icon too; the next call tries again), else un-minimises
/// it and brings it to the front.
void show_window(WindowApp& app, WindowSeams& seams);

/// The window or its web view could not be made, or failed after it was made: the first line
/// of "The window could not be opened: <error>" holds the status line as its note until the
/// user acts, since a user who saw no window looks there for why.
void window_failed(WindowApp& app, std::string_view error);

/// Whether the note says the window could not be opened.
bool window_failure_held(const WindowApp& app);

/// The web view of the open window failed: the window is dropped, as if it never opened, and
/// the tray icon shows why.
void drop_failed_window(WindowApp& app, WindowSeams& seams, std::string_view error);

/// Hands the page the state of everything: "render(<document>)".
void render_page(const WindowApp& app, WindowSeams& seams);

/// Hands the page the fetched shelves with the problem, if any, and the page word of the
/// request they answer, if any: "shelves(<document>)".
void send_shelves(const WindowApp& app, WindowSeams& seams, const std::optional<std::string>& problem,
                  const std::optional<std::string>& answers = std::nullopt);

/// The page word of a shelf request: "shelves", "shelf-add:<address>" or "shelf-forget:<address>".
std::string shelf_request_word(const std::optional<ShelfWord>& word);

}  // namespace zelk
