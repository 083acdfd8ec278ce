// Writes sample documents made by the window program's own builders, with the script that hands
// each to its page function, into a folder: the JSON-parser and script tests read them, and so
// can a browser test of the page.
//
// Usage: window_document_samples <output folder>
//
// For each sample <name> it writes <name>.json (the document) and <name>.js (the one-line script,
// "render(<document>)" and the like; the name's first word is the function). It also writes
// mark-32.rgba, mark-64.rgba and mark-128.rgba, the mark's pixels. The hostile texts below are
// placed where tests/window/tools/check_documents.py and check_scripts.js look for them.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "apps.h"
#include "documents.h"
#include "mark.h"
#include "platform.h"
#include "sample_recipes.h"

namespace zelk {
namespace {

using namespace std::string_literals;

// Texts that would break a document, a script or the page if written unescaped. The last one
// holds bytes that are not UTF-8: each reads as U+FFFD.
const std::vector<std::string> hostile = {
    "quote \" backslash \\ slash / lt < gt > amp & </script><!-- -->",
    "line\nfeed\rreturn\ttab NUL\0 unit\x1f DEL\x7f end"s,
    "separators \u2028 and \u2029, no-break\u00a0space, mark \ufeff",
    "emoji \xF0\x9F\x98\x80 accents \u00e9\u00fc \u65e5\u672c",
    "${x} `back` '); alert(1); //",
    "bad \xFF \xC3 \xE2\x82 \xED\xA0\x80 end",
};

Recipe sample_recipe(std::string_view text, std::string from) {
  std::expected<Recipe, std::string> recipe = read_recipe(text);
  if (!recipe) {
    std::fprintf(stderr, "window_document_samples: a sample recipe is refused: %s\n", recipe.error().c_str());
    std::exit(1);
  }
  recipe->from = std::move(from);
  return *recipe;
}

struct Samples {
  std::vector<std::pair<std::string, std::string>> documents;  // name, document
  void add(std::string name, std::string document) { documents.emplace_back(std::move(name), std::move(document)); }
};

void add_render_samples(Samples& samples, const Recipe& notes, const Recipe& wiki) {
  const auto& builtin = builtin_recipes();  // n8n, Gitea, Open WebUI, Ollama
  const std::string address = "http://127.0.0.1:33009/";

  // Before the first states read: nothing known, no runtime answer yet.
  RenderSnapshot start;
  start.status_line = "Starting what was running before ...";
  start.runtime_name = "Podman";
  for (const Recipe& recipe : builtin) start.apps.push_back({&recipe, "", "", AppState::unknown(), std::nullopt});
  start.apps.push_back({&notes, "", "", AppState::unknown(), std::nullopt});
  start.apps.push_back({&wiki, "", "", AppState::unknown(), std::nullopt});
  start.shelf_count = 1;
  samples.add("render-start", render_document(start));

  // Every state and busy word, hostile texts in the note, the messages, an address and the update.
  RenderSnapshot busy;
  busy.status_line = hostile[0] + " | " + hostile[4];
  busy.runtime_name = "Podman";
  busy.runtime_ok = true;
  busy.podman_desktop_found = true;
  busy.apps = {
      {&builtin[0], hostile[1], address, AppState::not_installed(), "open"},   // n8n: a progress line
      {&builtin[1], "", hostile[2], AppState::ready(), "stop"},                // Gitea: the busy word's status
      {&builtin[2], "", address, AppState::starting(), std::nullopt},         // Open WebUI
      {&builtin[3], hostile[3], address, AppState::ready(), "model"},         // Ollama
      {&notes, hostile[5], address, AppState::state("exited"), "backup"},     // Notes
      {&wiki, "", address, AppState::state("partly running"), std::nullopt},  // Wiki
  };
  busy.shelf_count = 10;
  const UpdateOffer offer{"0.3.0", "zelk-setup-0.3.0.exe", std::string(64, 'c'), 123456789};
  busy.update.emplace(offer, hostile[5], false);
  samples.add("render-busy", render_document(busy));

  // The runtime failed: the set-up advice points at the button; Docker offers no Podman Desktop.
  RenderSnapshot failed;
  failed.status_line = "Podman's machine is gone, and with it the apps and their data. Run: zelk setup";
  failed.runtime_name = "Docker";
  failed.runtime_ok = false;
  failed.podman_desktop_found = true;
  for (const Recipe& recipe : builtin) failed.apps.push_back({&recipe, "", "", AppState::unknown(), std::nullopt});
  failed.apps.push_back({&notes, "", address, AppState::not_installed(), std::nullopt});
  failed.update.emplace(offer, std::nullopt, true);
  samples.add("render-failed", render_document(failed));
}

void add_shelves_samples(Samples& samples, const Recipe& notes, const Recipe& wiki) {
  std::vector<ShelfView> shelves;
  shelves.push_back({"https://example.org/broken/shelf.yaml", hostile[3], "", {}});
  ShelfView good{"https://zelk.app/shelf/shelf.yaml", std::nullopt, hostile[4], {}};
  good.offers.push_back({"notes.yaml", "https://zelk.app/shelf/notes.yaml", "", ShelfOffer::State::New, notes, ""});
  good.offers.push_back(
      {"wiki.yaml", "https://zelk.app/shelf/wiki.yaml", "", ShelfOffer::State::Changed, wiki, ""});
  good.offers.push_back({"gone.yaml", "https://zelk.app/shelf/gone.yaml", "", ShelfOffer::State::Refused,
                         std::nullopt, hostile[5]});
  shelves.push_back(good);
  ShelfView other{"https://example.org:8443/more/shelf.yaml", std::nullopt, "More", {}};
  other.offers.push_back({"notes.yaml", "https://example.org:8443/more/notes.yaml", "", ShelfOffer::State::Added,
                          notes, ""});
  shelves.push_back(other);
  samples.add("shelves", shelves_document(hostile[2], shelves));
  samples.add("shelves-empty", shelves_document(std::nullopt, {}));
}

void add_outcome_and_made_samples(Samples& samples, const Recipe& wiki) {
  samples.add("outcome-preview", build_outcome("preview", Admission{wiki, false}));
  samples.add("outcome-add", build_outcome("add", Admission{wiki, true}));
  samples.add("outcome-refused", build_outcome("add", std::unexpected(hostile[1] + hostile[5])));
  const std::string settings = "# Settings of Wiki.\nTORVO_PORT=33100\nDB_PASSWORD=" + hostile[0] +
                               "\r\nINDEX_TOKEN=" + hostile[5] + "\n";
  const std::vector<MadeItem> items = made_items(wiki, settings);
  samples.add("made", made_document(wiki.name, hostile[3] + "\\apps\\wiki\\.env", items));
  samples.add("made-empty", made_document(wiki.name, "/home/j\u00f6rg/.torvo/apps/wiki/.env", {}));
}

bool write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) std::fprintf(stderr, "window_document_samples: %s could not be written\n", path_to_utf8(path).c_str());
  return static_cast<bool>(file);
}

int write_samples(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const Recipe notes = sample_recipe(samples::notes_recipe, "https://zelk.app/shelf/notes.yaml");
  const Recipe wiki = sample_recipe(samples::wiki_recipe, "http://127.0.0.1:8080/shelf/wiki.yaml?x=1");
  Samples samples;
  add_render_samples(samples, notes, wiki);
  add_shelves_samples(samples, notes, wiki);
  add_outcome_and_made_samples(samples, wiki);
  bool ok = true;
  for (const auto& [name, document] : samples.documents) {
    const std::string function = name.substr(0, name.find('-'));
    ok &= write_file(folder / (name + ".json"), document);
    ok &= write_file(folder / (name + ".js"), page_script(function, document));
  }
  for (std::uint32_t n : {32u, 64u, 128u}) {
    const std::vector<std::uint8_t> pixels = draw_mark(n);
    ok &= write_file(folder / ("mark-" + std::to_string(n) + ".rgba"),
                     std::string_view(reinterpret_cast<const char*>(pixels.data()), pixels.size()));
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: window_document_samples <output folder>\n");
    return 2;
  }
  return zelk::write_samples(zelk::path_from_utf8(argv[1]));
}
