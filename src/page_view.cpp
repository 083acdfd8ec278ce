#include "page_view.h"

#include "documents.h"
#include "shelf.h"
#include "tray_menu.h"

namespace zelk {

std::string window_open_failure(std::string_view error) {
  return "The window could not be opened: " + std::string(error);
}

void show_window(WindowApp& app, WindowSeams& seams) {
  if (seams.shell.window_open()) {
    seams.shell.raise_window();
    return;
  }
  auto opened = seams.shell.open_window();
  if (!opened) {
    window_failed(app, opened.error());
    seams.shell.show_notice(app.status_line);
    return;
  }
  // The window is there now: an earlier failure to make it no longer holds the line.
  if (window_failure_held(app)) clear_status_note(app);
}

void window_failed(WindowApp& app, std::string_view error) {
  set_status_note(app, first_line(window_open_failure(error)));
}

bool window_failure_held(const WindowApp& app) {
  return app.status_note && app.status_note->starts_with(window_open_failure(""));
}

void drop_failed_window(WindowApp& app, WindowSeams& seams, std::string_view error) {
  seams.shell.close_window();
  window_failed(app, error);
  seams.shell.show_notice(app.status_line);
}

void render_page(const WindowApp& app, WindowSeams& seams) {
  if (!seams.shell.window_open()) return;
  RenderSnapshot snapshot;
  snapshot.status_line = app.status_line;
  snapshot.runtime_name = app.runtime_name;
  snapshot.runtime_ok = app.runtime_ok;
  snapshot.podman_desktop_found = seams.services.find_podman_desktop().has_value();
  for (const AppEntry& entry : app.entries) {
    snapshot.apps.push_back(AppRow{entry.recipe.get(), entry.message, entry.address, entry.status, entry.busy});
  }
  const auto home = seams.home();
  snapshot.shelf_count = home ? shelf_addresses(*home).size() : 0;
  snapshot.update = app.update;
  // The shelf requests wait their turn here, in the program: a page opened again (or loaded
  // again) shows them as the one before it did.
  if (app.shelf_request_at_work != 0) {
    ShelfWork work{shelf_request_word(app.shelf_word_at_work), {}};
    for (const std::optional<ShelfWord>& waiting : app.shelf_requests_waiting) {
      work.waiting.push_back(shelf_request_word(waiting));
    }
    snapshot.shelf_work = std::move(work);
  }
  seams.shell.run_script(page_script("render", render_document(snapshot)));
}

void send_shelves(const WindowApp& app, WindowSeams& seams, const std::optional<std::string>& problem,
                  const std::optional<std::string>& answers) {
  if (!seams.shell.window_open()) return;
  seams.shell.run_script(page_script("shelves", shelves_document(problem, app.shelves, answers)));
}

std::string shelf_request_word(const std::optional<ShelfWord>& word) {
  if (!word) return "shelves";
  return (word->word == "add" ? "shelf-add:" : "shelf-forget:") + word->address;
}

}  // namespace zelk
