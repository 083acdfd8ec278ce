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

/// Makes the window when there is none (a failure shows the first line of its message in the
/// status line; the next call tries again), else un-minimises it and brings it to the front.
void show_window(WindowApp& app, WindowSeams& seams);

/// Hands the page the state of everything: "render(<document>)".
void render_page(const WindowApp& app, WindowSeams& seams);

/// Hands the page the fetched shelves with the problem, if any: "shelves(<document>)".
void send_shelves(const WindowApp& app, WindowSeams& seams, const std::optional<std::string>& problem);

}  // namespace zelk
