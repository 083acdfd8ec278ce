#include "window_loop.h"

#include <algorithm>
#include <utility>

#include "apps.h"
#include "command_ends.h"
#include "page_view.h"
#include "page_words.h"
#include "platform.h"
#include "text_files.h"
#include "tray_menu.h"
#include "window_app.h"
#include "worker_starts.h"
#include "zelk/commands.h"

namespace zelk {

using namespace std::chrono_literals;

struct WindowLoop::State {
  std::optional<WindowApp> app;
  bool window_flag = false;
  WindowSeams seams;
};

WindowLoop::WindowLoop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy, WindowServices services)
    : state_(std::make_unique<State>(
          State{std::nullopt, window_flag, WindowSeams{shell, std::move(proxy), std::move(services)}})) {}

WindowLoop::~WindowLoop() = default;

WindowApp* WindowLoop::app() { return state_->app ? &*state_->app : nullptr; }
const WindowApp* WindowLoop::app() const { return state_->app ? &*state_->app : nullptr; }

std::unique_ptr<WindowLoop> make_window_loop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy) {
  return make_window_loop(window_flag, shell, std::move(proxy), real_window_services());
}

std::unique_ptr<WindowLoop> make_window_loop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy,
                                             WindowServices services) {
  return std::make_unique<WindowLoop>(window_flag, shell, std::move(proxy), std::move(services));
}

namespace {

constexpr std::string_view starting_line = "Starting what was running before ...";

// The page's view of every app changes with the state; the tray's menu and tooltip are handed
// to the shell only when they changed, then the page is drawn anew.
void after_user_event(WindowApp& app, WindowSeams& seams) {
  if (app.menu != app.shown_menu) {
    seams.shell.set_tray_menu(app.menu);
    app.shown_menu = app.menu;
  }
  if (app.tooltip != app.shown_tooltip) {
    seams.shell.set_tooltip(app.tooltip);
    app.shown_tooltip = app.tooltip;
  }
  render_page(app, seams);
}

std::string ready_tooltip(const WindowApp& app) {
  std::string names;
  for (const AppEntry& entry : app.entries) {
    if (entry.status.kind != AppState::Kind::Ready) continue;
    if (!names.empty()) names += ", ";
    names += entry.recipe->name;
  }
  return names.empty() ? program_title() : program_title() + ": " + names + " running";
}

// A finished entry goes idle only with a read that began after its command ended.
void clear_finished(WindowApp& app, std::uint64_t number) {
  for (AppEntry& entry : app.entries) {
    if (!entry.finished || number < entry.clear_from) continue;
    entry.finished = false;
    entry.busy.reset();
    entry.message.clear();
  }
}

void on_states_read(WindowApp& app, const StatesRead& read) {
  // A read that began before one already shown knows less than what is shown.
  if (read.number < app.newest_read) return;
  app.newest_read = read.number;
  if (read.result) {
    for (const StateRow& row : read.result->rows) {
      if (AppEntry* entry = find_entry(app, row.id)) {
        entry->status = row.state;
        entry->containers = row.containers;
        entry->address = row.address;
        show_address(app.menu, *entry);
      }
    }
    clear_finished(app, read.number);
    for (const AppEntry& entry : app.entries) update_app_menu(app.menu, entry);
    if (app.runtime_ok == false) app.status_note.reset();
    app.runtime_ok = true;
    app.runtime_name = read.result->runtime_name;
    set_runtime_line(app, app.runtime_name + " is running");
    app.tooltip = ready_tooltip(app);
  } else {
    for (AppEntry& entry : app.entries) {
      entry.status = AppState::unknown();
      entry.containers.clear();
    }
    clear_finished(app, read.number);
    for (const AppEntry& entry : app.entries) update_app_menu(app.menu, entry);
    if (!app.resuming) {
      app.runtime_ok = false;
      set_runtime_line(app, first_line(read.result.error()));
    }
    app.tooltip = program_title();
  }
}

void on_resumed(WindowApp& app, WindowSeams& seams, const Resumed& resumed) {
  app.resuming = false;
  // A window asked for with "--window" that could not open says why until the user acts: the
  // resume, which nobody asked for, does not write over it.
  if (!resumed.result && !window_failure_held(app)) set_status_note(app, first_line(resumed.result.error()));
  start_refresh(app, seams);
}

// A recipe kept from a shelf before its origin file existed (or while it could not be
// written) gets one now, so the page can say where it came from.
bool write_missing_origins(const std::vector<ShelfView>& shelves, const std::filesystem::path& home) {
  bool written = false;
  for (const ShelfView& view : shelves) {
    if (view.error) continue;
    for (const ShelfOffer& offer : view.offers) {
      if (offer.state != ShelfOffer::State::Added || !offer.recipe) continue;
      const std::string& id = offer.recipe->id;
      auto kept = read_text_file(recipe_path(home, id));
      if (!kept || recipe_hash_line(*kept) != recipe_hash_line(offer.text)) continue;
      if (!recipe_origin(home, id, offer.text).empty()) continue;
      if (keep_origin(home, id, offer.address, offer.text)) written = true;
    }
  }
  return written;
}

void on_shelves_read(WindowApp& app, WindowSeams& seams, ShelvesRead read) {
  // A read that began before the one shown knows less than what is shown.
  if (read.number >= app.newest_shelves) {
    app.newest_shelves = read.number;
    if (const auto home = seams.home(); home && write_missing_origins(read.shelves, *home)) reload_apps(app, seams);
    app.shelves = std::move(read.shelves);
    std::optional<std::string> answers;
    if (read.number != 0 && read.number == app.shelf_request_at_work) {
      answers = shelf_request_word(app.shelf_word_at_work);
    }
    send_shelves(app, seams, read.problem, answers);
  }
  shelf_work_ended(app, seams, read.number);
}

// A look the user asked for answers until the user acts again; one nobody asked for says nothing.
void on_update_checked(WindowApp& app, const UpdateChecked& checked) {
  if (!checked.outcome) {
    if (checked.asked) set_status_note(app, first_line(checked.outcome.error()));
    return;
  }
  if (!*checked.outcome) {
    if (checked.asked) set_status_note(app, "This is the newest version (" + std::string(zelk_version) + ").");
    return;
  }
  const UpdateOffer& offer = **checked.outcome;
  if (checked.asked) set_status_note(app, "Version " + offer.version + " is out.");
  if (app.update && app.update->installing) return;
  app.update = KnownUpdate{offer, std::nullopt, false};
  retitle_update_item(app);
}

void on_update_installed(WindowApp& app, const UpdateInstalled& installed) {
  if (installed.result) {
    set_status_note(app, "Putting the new version in place ...");
    return;
  }
  if (app.update) {
    app.update->installing = false;
    app.update->problem = installed.result.error();
    retitle_update_item(app);
  }
  set_status_note(app, first_line(installed.result.error()));
}

void on_command_done(WindowApp& app, WindowSeams& seams, const CommandDone& done) {
  AppEntry* entry = find_entry(app, done.recipe->id);
  const std::optional<std::string> word = entry ? entry->busy : std::nullopt;
  if (entry) {
    entry->finished = true;
    entry->clear_from = app.refreshes_started + 1;  // the refresh started below
  }
  // What the command came to holds the line until the user acts again.
  if (!done.result) {
    set_status_note(app, command_error_note(done.recipe->name, done.result.error()));
  } else if (word == "model") {
    set_status_note(app, std::string(model_ready_line));
  } else if (word == "backup") {
    const auto named = seams.services.get_env("ZELK_HOME");
    set_status_note(app, backup_done_line(done.recipe->name, seams.home(), named && !named->empty()));
  }
  start_refresh(app, seams);
}

void on_command_line(WindowApp& app, const CommandLine& line) {
  AppEntry* entry = find_entry(app, line.recipe->id);
  if (entry && entry->busy) entry->message = first_line_short(line.line);
}

void on_refresh_tick(WindowApp& app, WindowSeams& seams) {
  const bool busy =
      std::any_of(app.entries.begin(), app.entries.end(), [](const AppEntry& e) { return e.busy.has_value(); });
  if (busy) return;
  if (seams.services.clock->now() - app.last_refresh >= 3s) start_refresh(app, seams);
}

void handle_user_event(WindowLoop::State& loop, UserEvent event, ControlFlow& flow) {
  WindowApp& app = *loop.app;
  WindowSeams& seams = loop.seams;
  std::visit(
      [&](auto&& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, MenuClicked>) {
          if (e.id == "quit") {
            flow = ControlFlow::exit(0);
          } else if (e.id == "window") {
            show_window(app, seams);
          } else {
            handle_page_message(app, seams, e.id);
          }
        } else if constexpr (std::is_same_v<E, PageMessage>) {
          if (e.text == "ready") {
            if (!app.shelves.empty()) send_shelves(app, seams, std::nullopt);
          } else {
            handle_page_message(app, seams, e.text);
          }
        } else if constexpr (std::is_same_v<E, RefreshTick>) {
          on_refresh_tick(app, seams);
        } else if constexpr (std::is_same_v<E, ShowWindow>) {
          show_window(app, seams);
        } else if constexpr (std::is_same_v<E, StatesRead>) {
          on_states_read(app, e);
        } else if constexpr (std::is_same_v<E, Resumed>) {
          on_resumed(app, seams, e);
        } else if constexpr (std::is_same_v<E, ShelvesRead>) {
          on_shelves_read(app, seams, std::move(e));
        } else if constexpr (std::is_same_v<E, UpdateChecked>) {
          on_update_checked(app, e);
        } else if constexpr (std::is_same_v<E, UpdateInstalled>) {
          on_update_installed(app, e);
        } else if constexpr (std::is_same_v<E, CommandDone>) {
          on_command_done(app, seams, e);
        } else if constexpr (std::is_same_v<E, CommandLine>) {
          on_command_line(app, e);
        } else if constexpr (std::is_same_v<E, WebViewFailed>) {
          drop_failed_window(app, seams, e.why);
        }
      },
      std::move(event));
  after_user_event(app, seams);
}

void init(WindowLoop::State& loop, ControlFlow& flow) {
  WindowSeams& seams = loop.seams;
  SharedCatalogue catalogue = read_window_catalogue(seams.home());
  TrayBuild build = build_tray_menu(catalogue, starting_line);
  if (!seams.shell.add_tray_icon(program_title(), build.menu)) {
    flow = ControlFlow::exit(1);
    return;
  }
  WindowApp& app = loop.app.emplace();
  app.catalogue = std::move(catalogue);
  app.entries = std::move(build.entries);
  app.menu = std::move(build.menu);
  app.shown_menu = app.menu;
  app.status_item = build.status_item;
  app.update_item = build.update_item;
  app.status_line = app.runtime_line = std::string(starting_line);
  app.tooltip = app.shown_tooltip = program_title();
  // The catalogue's first notice (an added recipe that is not used) holds until the user acts.
  if (!app.catalogue->notices.empty()) app.status_note = first_line(app.catalogue->notices.front());
  start_refresh(app, seams);
  start_resume(app, seams);
  start_update_thread(app, seams);
  if (loop.window_flag) handle_user_event(loop, ShowWindow{}, flow);
}

}  // namespace

ControlFlow handle_event(WindowLoop& loop, LoopEvent event) {
  WindowLoop::State& state = loop.state();
  ControlFlow flow = ControlFlow::wait();
  std::visit(
      [&](auto&& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, LoopStarted>) {
          if (!state.app) init(state, flow);
        } else if constexpr (std::is_same_v<E, WindowCloseRequested>) {
          state.seams.shell.close_window();
        } else if constexpr (std::is_same_v<E, WaitDeadlineReached>) {
          if (state.app) handle_user_event(state, RefreshTick{}, flow);
        } else {
          if (state.app) handle_user_event(state, std::move(e), flow);
        }
      },
      std::move(event));
  if (flow.kind == ControlFlow::Kind::Wait && state.app && state.seams.shell.window_open()) {
    const LoopClock::time_point now = state.seams.services.clock->now();
    flow = ControlFlow::wait_until(std::max(state.app->last_refresh + 10s, now + 3s));
  }
  return flow;
}

}  // namespace zelk
