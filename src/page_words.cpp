#include "page_words.h"

#include <array>
#include <system_error>

#include "addresses.h"
#include "app_lock.h"
#include "apps.h"
#include "console_starts.h"
#include "documents.h"
#include "envfile.h"
#include "files.h"
#include "page_view.h"
#include "platform.h"
#include "shelf.h"
#include "tray_menu.h"
#include "update.h"
#include "worker_starts.h"

namespace zelk {

namespace {

constexpr std::array<std::string_view, 5> busy_words{"stop", "open", "remove", "model", "backup"};

const Recipe* catalogue_recipe(const WindowApp& app, std::string_view id) {
  for (const Recipe& recipe : app.catalogue->recipes) {
    if (recipe.id == id) return &recipe;
  }
  return nullptr;
}

void start_app_command(WindowApp& app, WindowSeams& seams, std::string_view word, std::string_view id) {
  AppEntry* entry = find_entry(app, id);
  if (!entry || entry->busy) return;
  if (word == "remove" && entry->status.kind != AppState::Kind::State) return;
  entry->busy = std::string(word);
  update_app_menu(app.menu, *entry);
  spawn_app_command(app, seams, *entry, word);
}

// The data folder is made at the first start of an app; before that the user may still want
// to look into it (to drop a recipe there, say), so it is made here as the core makes it.
void open_data_folder(WindowApp& app, WindowSeams& seams) {
  const auto home = seams.home();
  if (!home) return;
  auto opened = make_data_folder(*home);
  if (opened) opened = seams.services.workers->open_in_browser(path_to_utf8(*home));
  if (!opened) {
    set_status_note(app, "The data folder \"" + path_to_utf8(*home) + "\" could not be opened: " + opened.error());
  }
}

std::expected<void, std::string> start_setup(WindowSeams& seams) {
  auto folder = seams.shell.program_folder();
  if (!folder) return std::unexpected(folder.error());
  const std::filesystem::path zelk = *folder / path_from_utf8(console_program_name);
  std::error_code error;
  if (!std::filesystem::exists(zelk, error)) {
    return std::unexpected(std::string("zelk.exe is not next to this program."));
  }
  return seams.shell.start_console(setup_console_arguments(path_to_utf8(zelk)), std::nullopt);
}

std::expected<void, std::string> start_podman_desktop(WindowSeams& seams) {
  const auto found = seams.services.find_podman_desktop();
  if (!found) return std::unexpected(std::string("Podman Desktop is not installed."));
  return seams.shell.start_detached(*found);
}

std::expected<void, std::string> start_terminal(const WindowApp& app, WindowSeams& seams) {
  const std::string command = terminal_command(app.runtime_name);
  auto folder = seams.shell.program_folder();
  if (!folder) return std::unexpected(folder.error());
  const char separator = seams.services.workers->platform == "windows" ? ';' : ':';
  auto path = terminal_path(*folder, seams.services.find_program(command), seams.services.get_env("PATH"), separator);
  if (!path) return std::unexpected(path.error());
  return seams.shell.start_console(terminal_console_arguments(command), std::move(*path));
}

void report(WindowApp& app, const std::expected<void, std::string>& started, std::string_view lead) {
  if (!started) set_status_note(app, std::string(lead) + started.error());
}

void look_for_update(WindowApp& app, WindowSeams& seams) {
  // The asking holds the line until the answer, which holds it until the user acts again.
  set_status_note(app, "Asking " + address_host(update_list_address()) + " for a newer version ...");
  spawn_update_check(app, seams);
}

void install_update(WindowApp& app, WindowSeams& seams) {
  if (!app.update) {
    look_for_update(app, seams);
    return;
  }
  if (app.update->installing) return;
  app.update->installing = true;
  app.update->problem.reset();
  retitle_update_item(app);
  set_status_note(app, "Fetching version " + app.update->offer.version + " ...");
  spawn_update_install(app, seams, app.update->offer, seams.shell.window_open());
}

void forget_app(WindowApp& app, WindowSeams& seams, std::string_view id) {
  AppEntry* entry = find_entry(app, id);
  if (!entry || entry->busy) return;
  const std::shared_ptr<const Recipe> recipe = entry->recipe;
  if (!can_forget(recipe->built_in, entry->status)) {
    set_status_note(app, recipe->name + " is still installed or built in, and stays in the list.");
    return;
  }
  // A helper may stand without the app's own container (a first start that failed half-way):
  // forgotten, nothing would explain it any more, and "remove" goes by the list.
  if (!entry->containers.empty()) {
    set_status_note(app, still_installed_message(*recipe));
    return;
  }
  const auto home = seams.home();
  if (!home) {
    set_status_note(app, std::string(no_home_message));
    return;
  }
  // A console command on the app (a first start, say) may be making its containers right now:
  // the loop never waits, so the word is refused while that command holds the app.
  auto held = try_lock_app(*home, recipe->id);
  if (!held || !*held) {
    set_status_note(app, held ? "Another Zelk command on " + recipe->name +
                                    " is running. Try again once it has ended."
                              : first_line(held.error()));
    return;
  }
  if (auto forgotten = forget_added_recipe(*home, *recipe); !forgotten) {
    set_status_note(app, first_line(forgotten.error()));
    return;
  }
  held->reset();
  reload_apps(app, seams);
  set_status_note(app, recipe->name + " is out of the list.");
}

void show_passwords(WindowApp& app, WindowSeams& seams, std::string_view id) {
  const Recipe* recipe = catalogue_recipe(app, id);
  const auto home = seams.home();
  if (!recipe || recipe->built_in || !home || !seams.shell.window_open()) return;
  const std::string settings = read_settings(*home, id).value_or("");
  const std::vector<MadeItem> items = made_items(*recipe, settings);
  seams.shell.run_script(
      page_script("made", made_document(recipe->name, path_to_utf8(settings_path(*home, id)), items)));
}

void open_lesson(WindowSeams& seams, const WindowApp& app, std::string_view id) {
  const Recipe* recipe = catalogue_recipe(app, id);
  if (recipe && recipe->lesson) (void)seams.services.workers->open_in_browser(*recipe->lesson);
}

void open_first_steps(WindowSeams& seams, const WindowApp& app, std::string_view id) {
  const Recipe* recipe = catalogue_recipe(app, id);
  if (recipe && recipe->built_in) {
    (void)seams.services.workers->open_in_browser(std::string(help_address) + "#first-" + std::string(id));
  }
}

bool handle_whole_word(WindowApp& app, WindowSeams& seams, std::string_view word) {
  if (word == "refresh") {
    reload_apps(app, seams);
  } else if (word == "data") {
    open_data_folder(app, seams);
  } else if (word == "setup") {
    report(app, start_setup(seams), "The setup could not be started: ");
  } else if (word == "desktop") {
    report(app, start_podman_desktop(seams), "Podman Desktop could not be opened: ");
  } else if (word == "desktop-get") {
    if (!seams.services.find_podman_desktop()) {
      report(app, seams.shell.start_console(desktop_get_console_arguments(), std::nullopt),
             "Podman Desktop could not be fetched: ");
    }
  } else if (word == "terminal") {
    report(app, start_terminal(app, seams), "The terminal could not be opened: ");
  } else if (word == "update") {
    install_update(app, seams);
  } else if (word == "update-look") {
    look_for_update(app, seams);
  } else if (word == "shelves") {
    spawn_shelf_work(app, seams, std::nullopt);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void handle_page_message(WindowApp& app, WindowSeams& seams, std::string_view text) {
  // A new action: what the last one came to goes.
  clear_status_note(app);
  if (handle_whole_word(app, seams, text)) return;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return;
  const std::string_view word = text.substr(0, colon);
  const std::string_view argument = text.substr(colon + 1);

  if (std::find(busy_words.begin(), busy_words.end(), word) != busy_words.end()) {
    start_app_command(app, seams, word, argument);
  } else if (word == "lesson") {
    open_lesson(seams, app, argument);
  } else if (word == "preview" || word == "add") {
    preview_or_add(app, seams, word, argument);
  } else if (word == "forget") {
    forget_app(app, seams, argument);
  } else if (word == "passwords") {
    show_passwords(app, seams, argument);
  } else if (word == "first") {
    open_first_steps(seams, app, argument);
  } else if (word == "shelf-add" || word == "shelf-forget") {
    spawn_shelf_work(app, seams, ShelfWord{word == "shelf-add" ? "add" : "forget", std::string(argument)});
  } else if (word == "shelf-install" || word == "shelf-take") {
    take_shelf_recipe(app, seams, argument, word == "shelf-install");
  }
}

void preview_or_add(WindowApp& app, WindowSeams& seams, std::string_view word, std::string_view text) {
  std::expected<Admission, std::string> result = std::unexpected(std::string(no_home_message));
  if (word == "preview") {
    result = admit_recipe(text, app.catalogue->recipes);
  } else if (const auto home = seams.home()) {
    result = keep_local_recipe(text, *home);
  }
  const std::string document = build_outcome(word, result);
  if (word == "add" && result) reload_apps(app, seams);
  if (seams.shell.window_open()) seams.shell.run_script(page_script("outcome", document));
}

void take_shelf_recipe(WindowApp& app, WindowSeams& seams, std::string_view address, bool install) {
  const ShelfOffer* offer = nullptr;
  for (const ShelfView& view : app.shelves) {
    if (view.error) continue;
    for (const ShelfOffer& candidate : view.offers) {
      if (!offer && candidate.address == address && !candidate.text.empty()) offer = &candidate;
    }
  }
  if (!offer) return;
  // The offer lives in app.shelves, which the steps below change: keep what is needed.
  const std::string text = offer->text;
  const std::string offer_address = offer->address;

  std::expected<Admission, std::string> kept = std::unexpected(std::string(no_home_message));
  const auto home = seams.home();
  if (home) {
    kept = keep_recipe(text, *home);
    // A lost origin file only costs the shown origin, as with the console's "add".
    if (kept) (void)keep_origin(*home, kept->recipe.id, offer_address, text);
  }
  if (!kept) {
    set_status_note(app, first_line(kept.error()));
    return;
  }

  const Recipe& recipe = kept->recipe;
  const std::string kept_text = unix_line_ends(text);
  for (ShelfView& view : app.shelves) {
    for (ShelfOffer& other : view.offers) {
      if (!other.recipe || other.recipe->id != recipe.id) continue;
      other.state = unix_line_ends(other.text) == kept_text ? ShelfOffer::State::Added : ShelfOffer::State::Changed;
    }
  }
  reload_apps(app, seams);
  set_status_note(app, recipe.name + " is in the list now.");
  if (install) start_app_command(app, seams, "open", recipe.id);
  send_shelves(app, seams, std::nullopt);
}

}  // namespace zelk
