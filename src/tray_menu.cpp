#include "tray_menu.h"

#include <utility>

#include "worker_starts.h"

namespace zelk {

namespace {

constexpr std::size_t open_item = 0;
constexpr std::size_t stop_item = 1;
constexpr std::size_t address_item = 3;

MenuItem item(std::string id, std::string text, bool enabled = true) {
  return MenuItem{MenuItem::Kind::Item, std::move(id), std::move(text), enabled, {}};
}

MenuItem separator() { return MenuItem{MenuItem::Kind::Separator, {}, {}, true, {}}; }

MenuItem app_submenu(const Recipe& recipe) {
  MenuItem submenu{MenuItem::Kind::Submenu, {}, recipe.name, true, {}};
  submenu.items = {item("open:" + recipe.id, "Start and open", false), item("stop:" + recipe.id, "Stop", false),
                   separator(), item({}, {}, false)};
  return submenu;
}

}  // namespace

SharedCatalogue read_window_catalogue(const std::optional<std::filesystem::path>& home) {
  if (!home) return std::make_shared<const RecipeCatalogue>(RecipeCatalogue{builtin_recipes(), {}});
  return std::make_shared<const RecipeCatalogue>(load_catalogue(*home));
}

TrayBuild build_tray_menu(const SharedCatalogue& catalogue, std::string_view status_text) {
  TrayBuild build;
  std::vector<MenuItem>& items = build.menu.items;
  items.push_back(item({}, program_title(), false));
  items.push_back(item("window", "Open the Zelk"));
  items.push_back(separator());
  for (std::size_t i = 0; i < catalogue->recipes.size(); ++i) {
    AppEntry entry;
    entry.recipe = shared_recipe(catalogue, i);
    entry.submenu = items.size();
    items.push_back(app_submenu(*entry.recipe));
    build.entries.push_back(std::move(entry));
  }
  items.push_back(separator());
  build.status_item = items.size();
  items.push_back(item({}, std::string(status_text), false));
  items.push_back(item("refresh", "Refresh"));
  items.push_back(item("data", "Open the data folder"));
  build.update_item = items.size();
  items.push_back(item("update", "Look for a newer version"));
  items.push_back(separator());
  items.push_back(item("quit", "Quit (apps keep running)"));
  return build;
}

void update_app_menu(TrayMenu& menu, const AppEntry& entry) {
  MenuItem& submenu = menu.items.at(entry.submenu);
  const std::optional<std::string> word = app_status_word(entry.status, entry.busy);
  submenu.text = word ? entry.recipe->name + "  -  " + *word : entry.recipe->name;
  MenuItem& open = submenu.items.at(open_item);
  open.text = open_label(entry.status);
  open.enabled = !entry.busy;
  submenu.items.at(stop_item).enabled = !entry.busy && can_stop(entry.status);
}

void show_address(TrayMenu& menu, const AppEntry& entry) {
  menu.items.at(entry.submenu).items.at(address_item).text = entry.address;
}

void set_status_line(WindowApp& app, std::string text) {
  // A menu item is one line; the page shows the whole text.
  app.menu.items.at(app.status_item).text = text.substr(0, text.find('\n'));
  app.status_line = std::move(text);
}

void retitle_update_item(WindowApp& app) {
  const ItemLook look = update_item_text(app.update);
  MenuItem& update = app.menu.items.at(app.update_item);
  update.text = look.text;
  update.enabled = look.enabled;
}

void reload_apps(WindowApp& app, WindowSeams& seams) {
  SharedCatalogue catalogue = read_window_catalogue(seams.home());
  TrayBuild build = build_tray_menu(catalogue, app.status_line);
  for (AppEntry& entry : build.entries) {
    if (const AppEntry* old = find_entry(app, entry.recipe->id)) {
      entry.status = old->status;
      entry.containers = old->containers;
      entry.busy = old->busy;
      entry.finished = old->finished;
      entry.clear_from = old->clear_from;
      entry.message = old->message;
      entry.address = old->address;
      show_address(build.menu, entry);
    }
    update_app_menu(build.menu, entry);
  }
  app.menu = std::move(build.menu);
  app.entries = std::move(build.entries);
  app.status_item = build.status_item;
  app.update_item = build.update_item;
  app.catalogue = std::move(catalogue);
  retitle_update_item(app);
  // The first notice (an added recipe that is not used) holds until the user acts, as at the
  // start; a caller's own line about what it just did may show before it.
  if (!app.catalogue->notices.empty()) {
    app.status_note = first_line_short(app.catalogue->notices.front());
    set_status_line(app, *app.status_note);
  }
  start_refresh(app, seams);
}

}  // namespace zelk
