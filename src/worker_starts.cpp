#include "worker_starts.h"

#include <exception>
#include <functional>
#include <utility>

#include "shelf.h"
#include "tray_menu.h"

namespace zelk {

namespace {

/// The result event of a worker that could not do its work, with the sentence that says why.
using FailureEvent = std::function<UserEvent(std::string sentence)>;

// Runs the work on a worker thread. An error the work throws ends only that work, and a
// thread that cannot be made runs nothing: either way the worker's own result event carries
// the sentence, so the app, the resume, the install or the shelf request it stood for is
// not left waiting for ever.
void start(WindowSeams& seams, std::function<void()> work, FailureEvent failed) {
  auto guarded = [proxy = seams.proxy, work = std::move(work), failed]() {
    if (std::optional<std::string> failure = failure_of(work)) proxy->send(failed(std::move(*failure)));
  };
  auto started = seams.services.start_worker(std::move(guarded));
  if (!started) seams.proxy->send(failed(worker_start_failure(started.error())));
}

void start_shelf_work(WindowApp& app, WindowSeams& seams, std::optional<ShelfWord> word) {
  const std::uint64_t number = ++app.shelf_requests_started;
  app.shelf_request_at_work = number;
  app.shelf_word_at_work = word;
  // An address that is never fetched needs no worker: its answer comes at once, in its turn,
  // with the shelves as they are shown, and nothing is fetched again for it.
  if (word && word->word == "add") {
    if (auto checked = check_web_address(word->address); !checked) {
      seams.proxy->send(ShelvesRead{checked.error(), app.shelves, number});
      return;
    }
  }
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue, word = std::move(word),
       number] { run_shelf_work(*proxy, *services, *catalogue, word, number); },
      [number](std::string sentence) { return ShelvesRead{std::move(sentence), {}, number}; });
}

}  // namespace

std::string worker_start_failure(std::string_view error) {
  return "The work could not be started: " + std::string(error);
}

std::string worker_failure(std::string_view error) {
  return "The work stopped on an unexpected error: " + std::string(error);
}

std::optional<std::string> failure_of(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& thrown) {
    return worker_failure(thrown.what());
  } catch (...) {
    return worker_failure("an error of unknown kind");
  }
  return std::nullopt;
}

void start_refresh(WindowApp& app, WindowSeams& seams) {
  const std::uint64_t number = ++app.refreshes_started;
  app.last_refresh = seams.services.clock->now();
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue, number] {
        refresh_states(*proxy, *services, *catalogue, number);
      },
      [number](std::string sentence) { return StatesRead{number, std::unexpected(std::move(sentence))}; });
}

void start_resume(WindowApp& app, WindowSeams& seams) {
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue] {
        resume_apps_in_window(*proxy, *services, *catalogue);
      },
      [](std::string sentence) { return Resumed{std::unexpected(std::move(sentence))}; });
}

void start_update_thread(WindowApp&, WindowSeams& seams) {
  // Without the thread no look comes again: that is shown, as an asked look's failure is.
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers] { check_updates_periodically(*proxy, *services); },
      [](std::string sentence) { return UpdateChecked{std::unexpected(std::move(sentence)), true}; });
}

void spawn_app_command(WindowApp& app, WindowSeams& seams, AppEntry& entry, std::string_view word) {
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers, catalogue = app.catalogue, word = std::string(word),
       recipe = entry.recipe] { run_app_command(proxy, *services, *catalogue, word, recipe); },
      [recipe = entry.recipe](std::string sentence) {
        return CommandDone{std::unexpected(std::move(sentence)), recipe};
      });
}

void spawn_shelf_work(WindowApp& app, WindowSeams& seams, std::optional<ShelfWord> word) {
  if (app.shelf_request_at_work == 0) {
    start_shelf_work(app, seams, std::move(word));
    return;
  }
  if (!word && !app.shelf_requests_waiting.empty()) return;
  app.shelf_requests_waiting.push_back(std::move(word));
}

void shelf_work_ended(WindowApp& app, WindowSeams& seams, std::uint64_t number) {
  if (number != app.shelf_request_at_work) return;
  app.shelf_request_at_work = 0;
  if (app.shelf_requests_waiting.empty()) return;
  std::optional<ShelfWord> next = std::move(app.shelf_requests_waiting.front());
  app.shelf_requests_waiting.pop_front();
  start_shelf_work(app, seams, std::move(next));
}

void spawn_update_check(WindowApp&, WindowSeams& seams) {
  start(
      seams, [proxy = seams.proxy, services = seams.services.workers] { check_update_now(*proxy, *services); },
      [](std::string sentence) { return UpdateChecked{std::unexpected(std::move(sentence)), true}; });
}

void spawn_update_install(WindowApp&, WindowSeams& seams, const UpdateOffer& offer, bool window_open) {
  start(
      seams,
      [proxy = seams.proxy, services = seams.services.workers, offer, window_open] {
        install_update_in_window(*proxy, *services, offer, window_open);
      },
      [](std::string sentence) { return UpdateInstalled{std::unexpected(std::move(sentence))}; });
}

}  // namespace zelk
