// Writes the documents the page tests feed the page, one file <scenario>.json each, made by the
// window program's own builders, so page and program cannot drift apart.
// Usage: page_documents <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "addresses.h"
#include "apps.h"
#include "documents.h"
#include "envfile.h"
#include "recipe.h"
#include "sample_recipes.h"
#include "shelf.h"

namespace zelk {
namespace {

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "page_documents: %s\n", message.c_str());
  std::exit(1);
}

// What an added or offered recipe is made of; the text goes through the recipe reader, so every
// value here is one a stranger could put in a recipe.
struct RecipeShape {
  std::string id;
  std::string name;  // the texts are written as double-quoted YAML texts
  std::string category;
  std::string summary;
  int port = 40400;
  int helpers = 0;
};

std::string quoted_yaml(std::string_view text) {
  std::string result = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') result.push_back('\\');
    result.push_back(c);
  }
  return result + "\"";
}

std::string recipe_text(const RecipeShape& shape) {
  std::string text = "services:\n  " + shape.id + ":\n    image: localhost/zelk/" + shape.id + ":1.0\n";
  text += "    ports:\n      - 127.0.0.1:${TORVO_PORT}:8080\n";
  for (int i = 1; i <= shape.helpers; ++i) {
    text += "  helper" + std::to_string(i) + ":\n    image: localhost/zelk/helper:" + std::to_string(i) + ".0\n";
  }
  text += "x-zelk:\n  format: " + std::string(shape.helpers > 0 ? "2" : "1") + "\n  id: " + shape.id +
          "\n  name: " + quoted_yaml(shape.name) + "\n  category: " + quoted_yaml(shape.category) +
          "\n  summary: " + quoted_yaml(shape.summary) + "\n  port: " + std::to_string(shape.port) + "\n  ready: /\n";
  return text;
}

Recipe read(std::string_view text, std::string_view what) {
  auto recipe = read_recipe(text);
  if (!recipe) fail("the recipe " + std::string(what) + " was refused: " + recipe.error());
  return *recipe;
}

Recipe made_recipe(const RecipeShape& shape, std::string from = {}) {
  Recipe recipe = read(recipe_text(shape), shape.id);
  recipe.from = std::move(from);
  return recipe;
}

const Recipe& builtin(std::string_view id) {
  for (const Recipe& recipe : builtin_recipes()) {
    if (recipe.id == id) return recipe;
  }
  fail("no built-in recipe " + std::string(id));
}

// The recipes the scenarios share. Added ones: Notes from a file (with passwords and a lesson),
// Wiki café from the Zelk's own shelf (with helpers), Pad from a course's shelf.
struct Recipes {
  Recipe notes = [] {
    Recipe recipe = read(samples::notes_recipe, "notes");
    return recipe;
  }();
  Recipe wiki = read(samples::wiki_recipe, "wiki");
  Recipe pad = made_recipe({"pad", "Pad", "Writing", "Write documents together, in real time.", 40410, 1},
                           "https://course.example.org/zelk/pad.yaml");
  Recipe kanban = made_recipe({"kanban", "Kanban board", "Planning",
                               "Cards and columns for the tasks of a small team.", 40411, 2});
  Recipe sketch =
      made_recipe({"sketch", "Sketch", "Drawing", "A whiteboard for quick drawings and diagrams.", 40412, 0});
  Recipe quiz = made_recipe(
      {"quiz", "Quiz maker", "Teaching", "Make quizzes and let the class answer them in a browser.", 40413, 0});
  Recipe changed = made_recipe({"pad", "Pad", "Writing", "Write documents together, in real time (newer).", 40410, 0});
  Recipe duplicate =
      made_recipe({"kanban", "Kanban board (second shelf)", "Planning", "The same id on another shelf.", 40414, 0});
  Recipe already =
      made_recipe({"notes", "Notes (from a shelf)", "Writing", "An offer whose id is already an app.", 40415, 0});

  Recipes() { wiki.from = std::string(maker_shelf_folder()) + "wiki.yaml"; }

  static std::string maker_shelf_folder() {
    const std::string_view address = default_shelf_address;
    return std::string(address.substr(0, address.rfind('/') + 1));
  }
};

const std::string course_shelf = "https://course.example.org/zelk/shelf.yaml";
const std::string course_folder = "https://course.example.org/zelk/";

AppRow row(const Recipe& recipe, AppState state, std::string address = {}, std::optional<std::string> busy = {},
           std::string message = {}) {
  return AppRow{&recipe, std::move(message), std::move(address), std::move(state), std::move(busy)};
}

std::string address_of(const Recipe& recipe) {
  return "http://127.0.0.1:" + std::to_string(recipe.port) + recipe.open;
}

RenderSnapshot snapshot(std::vector<AppRow> apps, std::optional<bool> runtime_ok = true, std::size_t shelves = 1) {
  RenderSnapshot shot;
  shot.status_line = runtime_ok.has_value() ? "" : "Reading the state of the apps ...";
  shot.runtime_name = "Podman";
  shot.runtime_ok = runtime_ok;
  shot.podman_desktop_found = false;
  shot.apps = std::move(apps);
  shot.shelf_count = shelves;
  return shot;
}

ShelfOffer offer(const Recipe& recipe, std::string address, ShelfOffer::State state) {
  ShelfOffer result;
  result.file = address.substr(address.rfind('/') + 1);
  result.address = std::move(address);
  result.text = recipe_text({recipe.id, recipe.name, recipe.category, recipe.summary, recipe.port, 0});
  result.state = state;
  result.recipe = recipe;
  return result;
}

ShelfOffer refused(std::string file, std::string folder, std::string message) {
  ShelfOffer result;
  result.address = folder + file;
  result.file = std::move(file);
  result.state = ShelfOffer::State::Refused;
  result.message = std::move(message);
  return result;
}

class Writer {
 public:
  explicit Writer(std::filesystem::path folder) : folder_(std::move(folder)) {}

  void put(const std::string& name, const std::string& document) {
    std::ofstream out(folder_ / (name + ".json"), std::ios::binary);
    out << document;
    if (!out) fail("could not write " + name);
  }

 private:
  std::filesystem::path folder_;
};

void write_all(Writer& out) {
  const Recipes r;
  const Recipe& n8n = builtin("n8n");
  const Recipe& gitea = builtin("gitea");
  const Recipe& webui = builtin("open-webui");
  const Recipe& ollama = builtin("ollama");

  // ---- render
  {
    RenderSnapshot shot = snapshot({row(n8n, AppState::unknown()), row(gitea, AppState::unknown()),
                                    row(webui, AppState::unknown()), row(ollama, AppState::unknown())},
                                   std::nullopt);
    out.put("render-first", render_document(shot));
  }
  {
    RenderSnapshot shot = snapshot({row(n8n, AppState::not_installed()), row(gitea, AppState::not_installed()),
                                    row(webui, AppState::not_installed()), row(ollama, AppState::not_installed())});
    out.put("render-none-installed", render_document(shot));
    shot.shelf_count = 0;
    out.put("render-no-shelves", render_document(shot));
    shot.shelf_count = 3;
    out.put("render-three-shelves", render_document(shot));
  }

  // Seven apps, so the accents come round again: n8n runs, Gitea is stopped, Open WebUI and
  // Ollama are not installed, Notes (from a file) is stopped, Wiki café (the Zelk's shelf) is
  // not installed, Pad (a course's shelf) is partly running.
  const auto installed_rows = [&](AppRow n8n_row, AppRow gitea_row, AppRow ollama_row) {
    return std::vector<AppRow>{std::move(n8n_row),
                               std::move(gitea_row),
                               row(webui, AppState::not_installed(), address_of(webui)),
                               std::move(ollama_row),
                               row(r.notes, AppState::state("exited"), address_of(r.notes)),
                               row(r.wiki, AppState::not_installed(), address_of(r.wiki)),
                               row(r.pad, AppState::state("partly running"), address_of(r.pad))};
  };
  {
    RenderSnapshot shot = snapshot(installed_rows(row(n8n, AppState::ready(), address_of(n8n)),
                                                  row(gitea, AppState::state("exited"), address_of(gitea)),
                                                  row(ollama, AppState::not_installed(), address_of(ollama))),
                                   true, 2);
    shot.podman_desktop_found = true;
    shot.status_line = "Podman answers.";
    out.put("render-installed", render_document(shot));

    shot.update = KnownUpdate{UpdateOffer{"0.3.0", "zelk-setup-0.3.0.exe", std::string(64, 'a'), 1000}, {}, false};
    out.put("render-update", render_document(shot));
    shot.update->installing = true;
    out.put("render-update-busy", render_document(shot));
    shot.update->installing = false;
    shot.update->problem = "The download of zelk-setup-0.3.0.exe had another size than the list says.";
    out.put("render-update-problem", render_document(shot));

    // Every kind of button at once: Podman stopped answering ("Set up Podman" shows), Podman
    // Desktop is not there (the question can be asked), and a newer version is known.
    shot.runtime_ok = false;
    shot.podman_desktop_found = false;
    shot.update->problem.reset();
    shot.status_line = "Podman's machine is not running. Run: zelk setup";
    out.put("render-every-button", render_document(shot));
  }
  {
    // A failed command's note: what failed, and on a second line what the program said.
    RenderSnapshot shot = snapshot(installed_rows(row(n8n, AppState::ready(), address_of(n8n)),
                                                  row(gitea, AppState::state("exited"), address_of(gitea)),
                                                  row(ollama, AppState::not_installed(), address_of(ollama))),
                                   true, 2);
    shot.status_line = "\"podman start torvo-gitea\" failed\nIt said: Error: unable to start container "
                       "\"3f2a9c41d0b7e5a8c6f1\": cannot listen on the TCP port: listen tcp4 127.0.0.1:33009: "
                       "bind: address already in use";
    out.put("render-two-line-note", render_document(shot));
  }
  {
    // Gitea starts with a progress line, n8n stops (no line yet), Ollama is starting by itself.
    RenderSnapshot shot = snapshot(
        installed_rows(row(n8n, AppState::ready(), address_of(n8n), "stop"),
                       row(gitea, AppState::state("exited"), address_of(gitea), "open",
                           "Fetching docker.gitea.com/gitea:1.24.2: 120 MB of 310 MB"),
                       row(ollama, AppState::starting(), address_of(ollama))),
        true, 2);
    shot.podman_desktop_found = true;
    out.put("render-busy", render_document(shot));
  }
  {
    // Open WebUI is being installed from the store, with a progress line.
    std::vector<AppRow> rows = installed_rows(row(n8n, AppState::ready(), address_of(n8n)),
                                              row(gitea, AppState::state("exited"), address_of(gitea)),
                                              row(ollama, AppState::not_installed(), address_of(ollama)));
    rows[2].busy = "open";
    rows[2].message = "Fetching ghcr.io/open-webui/open-webui:main: 40 MB of 1.6 GB";
    out.put("render-installing", render_document(snapshot(std::move(rows), true, 2)));
  }
  {
    // After the commands: Gitea runs, n8n is stopped, Ollama is ready.
    RenderSnapshot shot = snapshot(installed_rows(row(n8n, AppState::state("exited"), address_of(n8n)),
                                                  row(gitea, AppState::ready(), address_of(gitea)),
                                                  row(ollama, AppState::ready(), address_of(ollama))),
                                   true, 2);
    shot.podman_desktop_found = true;
    out.put("render-calm", render_document(shot));
  }
  {
    // The runtime cannot be used; Docker was the last runtime seen.
    RenderSnapshot shot = snapshot({row(n8n, AppState::not_installed()), row(gitea, AppState::not_installed())}, false);
    shot.runtime_name = "Docker";
    shot.status_line = "Podman's machine is gone, and with it the apps and their data. Run: zelk setup";
    out.put("render-cannot-run", render_document(shot));
  }

  // Texts a stranger wrote: markup, quotes, a line separator, emoji, a long word.
  const std::vector<std::pair<std::string, std::string>> hostile_names = {
      {"closer", "</script><b>bold</b>"},
      {"imager", "<img src=x onerror=ipc.postMessage(1)>"},
      {"quoter", "Bob's \"quoted\" & <app>"},
      {"emoji", "Fox \xF0\x9F\xA6\x8A notes \xE2\x80\xA8 line"},
      {"longword", "Supercalifragilisticexpialidocious-App12"},
  };
  std::vector<Recipe> hostile;
  int port = 40500;
  for (const auto& [id, name] : hostile_names) {
    hostile.push_back(made_recipe({id, name, "<i>Cat</i>",
                                   "Summary with </script><script>ipc.postMessage('pwned')</script> and "
                                   "\xE2\x80\xA8 a line separator",
                                   port++, 0},
                                  "https://<img src=x onerror=ipc.postMessage(2)>evil.example.org/x.yaml"));
  }
  {
    std::vector<AppRow> rows;
    for (const Recipe& recipe : hostile) {
      rows.push_back(row(recipe, AppState::state("exited"), address_of(recipe)));
    }
    rows[0].busy = "open";
    rows[0].message = "</script><img src=x onerror=ipc.postMessage(3)>\xE2\x80\xA8 \"done\"";
    RenderSnapshot shot = snapshot(std::move(rows), false);
    shot.status_line = "<img src=x onerror=ipc.postMessage(4)> Run: zelk setup";
    shot.update = KnownUpdate{UpdateOffer{"<b>9</b>", "x.exe", std::string(64, 'b'), 1},
                              "</script><img src=x onerror=ipc.postMessage(5)>", false};
    out.put("render-hostile", render_document(shot));
  }

  // ---- shelves
  {
    std::vector<ShelfView> views(3);
    views[0].address = course_shelf;
    views[0].name = "Course shelf";
    views[0].offers = {offer(r.kanban, course_folder + "kanban.yaml", ShelfOffer::State::New),
                       offer(r.pad, course_folder + "pad.yaml", ShelfOffer::State::Added),
                       offer(r.changed, course_folder + "pad-next.yaml", ShelfOffer::State::Changed),
                       refused("broken.yaml", course_folder,
                               "Line 3: a tab is not allowed here; indent with spaces."),
                       offer(r.already, course_folder + "notes.yaml", ShelfOffer::State::New)};
    views[1].address = std::string(default_shelf_address);
    views[1].name = "The Zelk's shelf";
    views[1].offers = {offer(r.duplicate, Recipes::maker_shelf_folder() + "kanban.yaml", ShelfOffer::State::New),
                       offer(r.sketch, Recipes::maker_shelf_folder() + "sketch.yaml", ShelfOffer::State::New),
                       offer(r.quiz, Recipes::maker_shelf_folder() + "quiz.yaml", ShelfOffer::State::New)};
    views[2].address = "https://gone.example.org/shelf.yaml";
    views[2].error = "The address https://gone.example.org/shelf.yaml could not be fetched: no answer in time.";
    out.put("shelves-offers", shelves_document(std::nullopt, views));
    out.put("shelves-problem", shelves_document("That is not a shelf: Line 1: \"name\" is missing.", views));
  }
  {
    std::vector<ShelfView> views(1);
    views[0].address = "https://evil.example.org/<shelf>.yaml";
    views[0].name = "</script><img src=x onerror=ipc.postMessage(6)>";
    const Recipe stranger = made_recipe({"stranger", "<img src=x onerror=ipc.postMessage(8)>'\"", "</b>",
                                         "</script>\xE2\x80\xA9", 40600, 0});
    views[0].offers = {offer(stranger, "https://evil.example.org/<stranger>.yaml", ShelfOffer::State::New),
                       offer(hostile[2], "https://evil.example.org/quoter.yaml", ShelfOffer::State::Changed),
                       refused("x.yaml", "https://evil.example.org/", "<img src=x onerror=ipc.postMessage(7)>")};
    out.put("shelves-hostile", shelves_document(std::nullopt, views));
  }

  // ---- outcomes
  {
    Admission admitted{r.notes, false};
    out.put("outcome-preview", build_outcome("preview", admitted));
    admitted.replaces = true;
    out.put("outcome-preview-replaces", build_outcome("preview", admitted));
    out.put("outcome-add", build_outcome("add", admitted));
    auto refusal = admit_recipe("services:\n\tapp:\n", builtin_recipes());
    if (refusal) fail("a broken recipe was admitted");
    out.put("outcome-preview-refused", build_outcome("preview", refusal));
    out.put("outcome-add-refused", build_outcome("add", std::unexpected(std::string("No home directory was found."))));
    auto large = admit_recipe(std::string(recipe_size_limit + 1, 'a'), builtin_recipes());
    out.put("outcome-too-large", build_outcome("preview", large));

    // Markup in every text a stranger's recipe puts in an outcome.
    Admission hostile_admitted{hostile[0], true};
    out.put("outcome-hostile-preview", build_outcome("preview", hostile_admitted));
    out.put("outcome-hostile-add", build_outcome("add", hostile_admitted));
    out.put("outcome-hostile-refused",
            build_outcome("preview", std::unexpected(std::string("Line 2: \"<img src=x onerror=ipc.postMessage(9)>\" "
                                                                 "is not a key this reader knows.</p><b>"))));
  }

  // ---- made
  {
    const std::filesystem::path home = "/home/sam/.torvo";
    const std::string settings = "# Notes\nNOTES_KEY=k3y-\"with\"-<quotes>\nNOTES_ZONE=Europe/Berlin\n";
    const std::vector<MadeItem> items = made_items(r.notes, settings);
    if (items.empty()) fail("the notes settings gave no passwords");
    const std::string file = settings_path(home, r.notes.id).string();
    out.put("made-items", made_document(r.notes.name, file, items));
    out.put("made-empty", made_document(r.notes.name, file, {}));
    const std::vector<MadeItem> hostile_items = {
        {"<b>KEY</b>", "</script><img src=x onerror=ipc.postMessage(10)>"},
        {"QUOTED", "a\"b'c&<d>\xE2\x80\xA8"},
    };
    out.put("made-hostile", made_document(hostile[1].name, "C:\\Users\\<i>sam</i>\\.torvo\\apps\\imager\\.env",
                                          hostile_items));
  }

  // ---- the screenshots: four apps and a shelf with offers
  {
    RenderSnapshot shot = snapshot({row(n8n, AppState::ready(), address_of(n8n)),
                                    row(gitea, AppState::state("exited"), address_of(gitea), "open",
                                        "Fetching docker.gitea.com/gitea:1.24.2: 120 MB of 310 MB"),
                                    row(webui, AppState::not_installed(), address_of(webui)),
                                    row(r.notes, AppState::state("exited"), address_of(r.notes))},
                                   true, 1);
    // The whole text of a failure: what failed, and the runtime's long line with words too long
    // for the panel (a container id, a path).
    shot.status_line =
        "Open WebUI: \"podman start torvo-open-webui\" failed\nIt said: Error: unable to start container "
        "\"9c1e4f7a2b3d5e6f8091a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6f7\": crun: mount "
        "/home/sam/.local/share/containers/storage/volumes/torvo-open-webui-data/_data to /app/backend/data: "
        "permission denied: OCI permission denied";
    shot.podman_desktop_found = true;
    out.put("render-showcase", render_document(shot));
    std::vector<ShelfView> views(2);
    views[0].address = std::string(default_shelf_address);
    views[0].name = "The Zelk's shelf";
    views[0].offers = {offer(r.kanban, Recipes::maker_shelf_folder() + "kanban.yaml", ShelfOffer::State::New),
                       offer(r.sketch, Recipes::maker_shelf_folder() + "sketch.yaml", ShelfOffer::State::New)};
    views[1].address = course_shelf;
    views[1].name = "Course shelf";
    views[1].offers = {offer(hostile[4], course_folder + "longword.yaml", ShelfOffer::State::New)};
    out.put("shelves-showcase", shelves_document(std::nullopt, views));
  }
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: page_documents <folder>\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::fprintf(stderr, "page_documents: %s\n", error.message().c_str());
    return 1;
  }
  zelk::Writer writer(folder);
  zelk::write_all(writer);
  return 0;
}
