#include "worker_starts.h"

#include <functional>
#include <utility>

#include "tray_menu.h"

namespace zelk {

namespace {

bool start(WindowApp& app, WindowSeams& seams, std::function<void()> work) {
  auto started = seams.services.start_worker(std::move(work));
  if (started) return true;
  set_status_line(app, first_line_short(worker_start_failure(started.error())));
  return false;
}

}  // namespace

std::string worker_start_failure(std::string_view error) {
  return "The work could not be started: " + std::string(error);
}

void start_refresh(WindowApp& app, WindowSeams& seams) {
  const std::uint64_t number = ++app.refreshes_started;
  app.last_refresh = seams.services.clock->now();
  start(app, seams, [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue, number] {
    refresh_states(*proxy, *services, *catalogue, number);
  });
}

void start_resume(WindowApp& app, WindowSeams& seams) {
  start(app, seams, [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue] {
    resume_apps_in_window(*proxy, *services, *catalogue);
  });
}

void start_update_thread(WindowApp& app, WindowSeams& seams) {
  start(app, seams, [proxy = seams.proxy, services = seams.services.workers] {
    check_updates_periodically(*proxy, *services);
  });
}

void spawn_app_command(WindowApp& app, WindowSeams& seams, AppEntry& entry, std::string_view word) {
  const bool started = start(app, seams,
                             [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue,
                              word = std::string(word), recipe = entry.recipe] {
                               run_app_command(proxy, *services, *catalogue, word, recipe);
                             });
  if (!started) {
    entry.busy.reset();
    update_app_menu(app.menu, entry);
  }
}

void spawn_shelf_work(WindowApp& app, WindowSeams& seams, std::optional<ShelfWord> word) {
  start(app, seams,
        [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue, word = std::move(word)] {
          run_shelf_work(*proxy, *services, *catalogue, word);
        });
}

void spawn_update_check(WindowApp& app, WindowSeams& seams) {
  start(app, seams, [proxy = seams.proxy, services = seams.services.workers] { check_update_now(*proxy, *services); });
}

bool spawn_update_install(WindowApp& app, WindowSeams& seams, const UpdateOffer& offer, bool window_open) {
  return start(app, seams, [proxy = seams.proxy, services = seams.services.workers, offer, window_open] {
    install_update_in_window(*proxy, *services, offer, window_open);
  });
}

}  // namespace zelk
