#include "documents.h"

#include <gtest/gtest.h>

#include <string>

#include "apps.h"
#include "sample_recipes.h"
#include "test_recipes.h"
#include "utf8.h"

namespace zelk {
namespace {

// ---- json_text ----

TEST(JsonText, EscapesQuotesBackslashesLessThanControlsAndLineSeparators) {
  const struct {
    const char* label;
    std::string text;
    std::string json;
  } cases[] = {
      {"empty", "", R"("")"},
      {"the escaping rule's own example", "a\"b\\c<d\ne\tf\u2028g\u00e9>h",
       R"("a\"b\\c\u003cd\u000ae\u0009f\u2028g)" "\u00e9" R"(>h")"},
      {"NUL", std::string("a\0b", 3), R"("a\u0000b")"},
      {"every control character below U+0020",
       std::string("\x01\x08\x0b\x0c\x0d\x1b\x1f"), R"("\u0001\u0008\u000b\u000c\u000d\u001b\u001f")"},
      {"U+2029 and U+2028", "\u2029\u2028", R"("\u2029\u2028")"},
      {"DEL, U+0085 and U+2027 stay", "\x7f\u0085\u2027", "\"\x7f\u0085\u2027\""},
      {"emoji", "\xF0\x9F\x98\x80 ok", "\"\xF0\x9F\x98\x80 ok\""},
      {"a closing script tag", "</script><script>alert(1)</script>",
       R"("\u003c/script>\u003cscript>alert(1)\u003c/script>")"},
      {"slash, ampersand and greater-than stay", "a/b&c>d", R"("a/b&c>d")"},
      {"a stray continuation byte", "a\x80z", "\"a\xEF\xBF\xBDz\""},
      {"a lead byte at the end", "a\xC3", "\"a\xEF\xBF\xBD\""},
      {"a cut three-byte sequence: one U+FFFD per byte", "\xE2\x82z", "\"\xEF\xBF\xBD\xEF\xBF\xBDz\""},
      {"an overlong slash", "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"a UTF-16 surrogate", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"past U+10FFFF", "\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"a broken byte before a quote", "\xFF\"", "\"\xEF\xBF\xBD\\\"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string json = json_text(c.text);
    EXPECT_EQ(json, c.json);
    EXPECT_TRUE(is_valid_utf8(json));
  }
}

TEST(JsonText, AbsentTextIsNull) {
  EXPECT_EQ(json_text_or_null(std::nullopt), "null");
  EXPECT_EQ(json_text_or_null(std::string()), R"("")");
  EXPECT_EQ(json_text_or_null(std::string("<")), R"("\u003c")");
}

// ---- the app object ----

const Recipe& builtin(std::string_view id) {
  for (const Recipe& recipe : builtin_recipes()) {
    if (recipe.id == id) return recipe;
  }
  ADD_FAILURE() << "no built-in recipe " << id;
  return builtin_recipes().front();
}

// Added recipes: Notes from the maker's own shelf (a secret, a lesson, the network of an app it
// does not start), Wiki from another host (three helpers, secrets) and User (starts Solo and an
// app no one has).
struct AddedRecipes {
  Recipe notes = read_test_recipe(samples::notes_recipe);
  Recipe wiki = read_test_recipe(samples::wiki_recipe);
  Recipe user = read_test_recipe(user_recipe_text());
  Recipe solo = read_test_recipe(solo_recipe_text);
  AddedRecipes() {
    notes.from = "https://zelk.app/shelf/notes.yaml";
    wiki.from = "http://127.0.0.1:8080/shelf/wiki.yaml?x=1";
    user.from = "https://example.org:8443/recipes/user.yaml";
  }
};

std::string b(bool value) { return value ? "true" : "false"; }

// What varies with state and busy word; the other keys come from the recipe.
struct Expect {
  std::string status;
  std::string tone;
  std::string open;
  bool installed, can_open, can_stop, can_remove, can_forget, passwords, can_model, can_backup;
};

// The recipe's own keys, as the page must see them.
struct RecipeKeys {
  std::string id, name, category, summary;
  bool reviewed, own;
  std::string from, uses;
  int helpers;
  std::string lesson;
};

std::string expected_app(const RecipeKeys& r, std::string_view address, const Expect& e) {
  return R"({"id":")" + r.id + R"(","name":")" + r.name + R"(","category":")" + r.category +
         R"(","summary":")" + r.summary + R"(","status":")" + e.status + R"(","tone":")" + e.tone +
         R"(","address":")" + std::string(address) + R"(","open":")" + e.open + R"(","installed":)" +
         b(e.installed) + R"(,"reviewed":)" + b(r.reviewed) + R"(,"own":)" + b(r.own) + R"(,"from":")" +
         r.from + R"(","uses":")" + r.uses + R"(","helpers":)" + std::to_string(r.helpers) +
         R"(,"canOpen":)" + b(e.can_open) + R"(,"canStop":)" + b(e.can_stop) + R"(,"canRemove":)" +
         b(e.can_remove) + R"(,"canForget":)" + b(e.can_forget) + R"(,"passwords":)" + b(e.passwords) +
         R"(,"lesson":")" + r.lesson + R"(","canModel":)" + b(e.can_model) + R"(,"canBackup":)" +
         b(e.can_backup) + "}";
}

TEST(AppObject, FollowsTheStateTheBusyWordAndTheRecipe) {
  const AddedRecipes added;
  const Recipe& gitea = builtin("gitea");
  const Recipe& webui = builtin("open-webui");
  const Recipe& ollama = builtin("ollama");
  const Recipe& n8n = builtin("n8n");
  // An added recipe may not take the id "open-webui"; the builder still asks for a built-in one.
  Recipe added_webui = added.notes;
  added_webui.id = "open-webui";
  added_webui.from = "";

  const RecipeKeys gitea_keys{"gitea", "Gitea", "Git server",
                              "Host local Git repositories and collaborate through a browser interface.",
                              true, false, "", "", 0, ""};
  const RecipeKeys webui_keys{"open-webui", "Open WebUI", "AI workspace",
                              "Chat with language models that run on your own computer, through Ollama.",
                              true, false, "", "Ollama", 0, ""};
  const RecipeKeys ollama_keys{"ollama", "Ollama", "Local models",
                               "Runs language models on your own computer, for apps such as Open WebUI.",
                               true, false, "", "", 0, ""};
  const RecipeKeys n8n_keys{"n8n", "n8n", "Automation",
                            "Build dependable workflows that connect your tools and data.",
                            true, false, "", "", 0, ""};
  // Notes uses Ollama's network but does not start it: no "uses".
  const RecipeKeys notes_keys{"notes", "Notes", "Writing", "Keep notes in your browser.",
                              false, true, "zelk.app", "", 0, "https://example.org/notes"};
  const RecipeKeys wiki_keys{"wiki", "Wiki caf\u00e9", "Knowledge", "A wiki for your own notes.",
                             false, false, "127.0.0.1:8080", "", 3, ""};
  const RecipeKeys user_keys{"user", "User", "Tests", "Uses Solo", false, false, "example.org:8443",
                             "Solo, ghost", 0, ""};
  RecipeKeys added_webui_keys = notes_keys;
  added_webui_keys.id = "open-webui";
  added_webui_keys.own = false;
  added_webui_keys.from = "";

  const std::string at = "http://127.0.0.1:33009/";
  const AppState unknown = AppState::unknown();
  const struct {
    const char* label;
    const Recipe& recipe;
    const RecipeKeys& keys;
    AppState state;
    std::optional<std::string> busy;
    std::string message;
    std::string address;
    Expect expect;
  } cases[] = {
      // Before the first states read: nothing known, only opening offered.
      {"not read yet", gitea, gitea_keys, unknown, std::nullopt, "", "",
       {"not known", "off", "Start and open", false, true, false, false, false, false, false, false}},
      {"added, not read yet", added.notes, notes_keys, unknown, std::nullopt, "", "",
       {"not known", "off", "Start and open", false, true, false, false, false, false, false, false}},
      {"ollama not read yet can fetch a model", ollama, ollama_keys, unknown, std::nullopt, "", "",
       {"not known", "off", "Start and open", false, true, false, false, false, false, true, false}},
      // Busy: the progress message when there is one, else the busy word's status.
      {"busy without a message", gitea, gitea_keys, AppState::ready(), "stop", "", at,
       {"stopping ...", "busy", "Open", true, false, false, false, false, false, false, false}},
      {"busy with a message", gitea, gitea_keys, AppState::not_installed(), "open", "Pulling 3 of 5 \"layers\"", at,
       {"Pulling 3 of 5 \\\"layers\\\"", "busy", "Install and open", false, false, false, false, false, false,
        false, false}},
      {"busy before the first read", gitea, gitea_keys, unknown, "backup", "", "",
       {"backing up ...", "busy", "Start and open", false, false, false, false, false, false, false, false}},
      {"ollama fetching a model", ollama, ollama_keys, AppState::ready(), "model", "", at,
       {"fetching a model ...", "busy", "Open", true, false, false, false, false, false, false, false}},
      {"added, being removed", added.notes, notes_keys, AppState::state("exited"), "remove", "", at,
       {"removing ...", "busy", "Start and open", true, false, false, false, false, true, false, false}},
      // Idle, by state.
      {"starting", webui, webui_keys, AppState::starting(), std::nullopt, "", at,
       {"starting ...", "busy", "Start and open", true, true, true, false, false, false, true, true}},
      {"ready", webui, webui_keys, AppState::ready(), std::nullopt, "", at,
       {"running", "ready", "Open", true, true, true, false, false, false, true, true}},
      {"built in with secrets never shows passwords", n8n, n8n_keys, AppState::ready(), std::nullopt, "", at,
       {"running", "ready", "Open", true, true, true, false, false, false, false, true}},
      {"partly running", added.wiki, wiki_keys, AppState::state("partly running"), std::nullopt, "", at,
       {"partly running", "off", "Start and open", true, true, true, true, false, true, false, true}},
      {"stopped", added.notes, notes_keys, AppState::state("exited"), std::nullopt, "", at,
       {"stopped", "off", "Start and open", true, true, false, true, false, true, false, true}},
      {"added, not installed", added.notes, notes_keys, AppState::not_installed(), std::nullopt, "", at,
       {"not installed", "off", "Install and open", false, true, false, false, true, false, false, false}},
      {"built in, not installed", gitea, gitea_keys, AppState::not_installed(), std::nullopt, "", at,
       {"not installed", "off", "Install and open", false, true, false, false, false, false, false, false}},
      {"added without secrets", added.user, user_keys, AppState::ready(), std::nullopt, "", at,
       {"running", "ready", "Open", true, true, true, false, false, false, false, true}},
      {"an added recipe named open-webui cannot fetch a model", added_webui, added_webui_keys,
       AppState::ready(), std::nullopt, "", at,
       {"running", "ready", "Open", true, true, true, false, false, true, false, true}},
  };
  // Every app in the catalogue, for the names of the apps one uses.
  std::vector<AppRow> rows;
  for (const Recipe& recipe : builtin_recipes()) rows.push_back({&recipe, "", "", unknown, std::nullopt});
  rows.push_back({&added.solo, "", "", unknown, std::nullopt});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const AppRow row{&c.recipe, c.message, c.address, c.state, c.busy};
    EXPECT_EQ(app_object(row, rows), expected_app(c.keys, c.address, c.expect));
  }
}

TEST(AppObject, UsedAppNamesComeFromTheRowsOrTheIdAndOnlyWhenTheAppStartsThem) {
  const AddedRecipes added;
  const std::vector<AppRow> rows = {
      {&added.solo, "", "", AppState::unknown(), std::nullopt},
      {&added.notes, "", "", AppState::unknown(), std::nullopt},
  };
  EXPECT_EQ(used_app_names(added.user, rows), (std::vector<std::string>{"Solo", "ghost"}));
  EXPECT_EQ(used_app_names(added.user, {}), (std::vector<std::string>{"solo", "ghost"}));
  // Notes joins Ollama's network without starting it.
  ASSERT_EQ(added.notes.uses, std::vector<std::string>{"ollama"});
  EXPECT_TRUE(used_app_names(added.notes, rows).empty());
  const Recipe user_not_starting = read_test_recipe(user_recipe_text("false"));
  EXPECT_TRUE(used_app_names(user_not_starting, rows).empty());
}

// ---- the render document ----

TEST(RenderDocument, WritesTheElevenKeysInOrder) {
  const Recipe& gitea = builtin("gitea");
  RenderSnapshot snapshot;
  snapshot.status_line = "Podman is running";
  snapshot.runtime_name = "Podman";
  snapshot.runtime_ok = true;
  snapshot.podman_desktop_found = false;
  snapshot.apps = {{&gitea, "", "http://127.0.0.1:33009/", AppState::ready(), std::nullopt}};
  snapshot.shelf_count = 3;
  const UpdateOffer offer{"0.3.0", "zelk-0.3.0.exe", std::string(64, '0'), 5};
  snapshot.update.emplace(offer, "It said \"no\"", false);
  const RecipeKeys gitea_keys{"gitea", "Gitea", "Git server",
                              "Host local Git repositories and collaborate through a browser interface.",
                              true, false, "", "", 0, ""};
  const std::string app = expected_app(
      gitea_keys, "http://127.0.0.1:33009/",
      {"running", "ready", "Open", true, true, true, false, false, false, false, true});
  EXPECT_EQ(render_document(snapshot),
            R"({"version":"0.2.0-alpha.15","note":"Podman is running","runtime":"Podman","runtimeOk":true,)"
            R"("terminal":true,"setup":false,"desktop":"install","apps":[)" + app +
                R"(],"shelves":3,"update":{"version":"0.3.0","busy":false,"problem":"It said \"no\""},)"
                R"("shelfWork":null})");

  snapshot.apps.clear();
  snapshot.runtime_ok.reset();
  snapshot.shelf_count = 0;
  snapshot.update->installing = true;
  snapshot.update->problem.reset();
  snapshot.shelf_work = ShelfWork{"shelf-add:https://a.example.org/<s>", {"shelf-forget:x", "shelves"}};
  EXPECT_EQ(render_document(snapshot),
            R"({"version":"0.2.0-alpha.15","note":"Podman is running","runtime":"Podman","runtimeOk":null,)"
            R"("terminal":true,"setup":false,"desktop":"install","apps":[],"shelves":0,)"
            R"("update":{"version":"0.3.0","busy":true,"problem":null},)"
            R"("shelfWork":{"working":"shelf-add:https://a.example.org/\u003cs>",)"
            R"("waiting":["shelf-forget:x","shelves"]}})");

  snapshot.update.reset();
  snapshot.shelf_work.reset();
  snapshot.runtime_ok = false;
  snapshot.runtime_name = "Docker";
  snapshot.status_line = "No usable container runtime was found.";
  EXPECT_EQ(render_document(snapshot),
            R"({"version":"0.2.0-alpha.15","note":"No usable container runtime was found.","runtime":"Docker",)"
            R"("runtimeOk":false,"terminal":true,"setup":true,"desktop":"","apps":[],"shelves":0,"update":null,)"
            R"("shelfWork":null})");
}

std::string document_prefix(std::string_view note_json, std::string_view runtime_ok) {
  return R"({"version":"0.2.0-alpha.15","note":)" + std::string(note_json) + R"(,"runtime":"Podman","runtimeOk":)" +
         std::string(runtime_ok) + ",";
}

TEST(RenderDocument, PointsTheSetUpAdviceAtTheButtonOnlyWhileTheRuntimeFails) {
  const std::string gone = "Podman's machine is gone, and with it the apps and their data. Run: zelk setup";
  const std::string both = "First run: zelk setup, then Run: zelk setup. Run: zelk setups";
  const struct {
    std::string line;
    std::optional<bool> runtime_ok;
    std::string note_json;
  } cases[] = {
      {gone, false,
       R"("Podman's machine is gone, and with it the apps and their data. Press \"Set up Podman\".")"},
      {gone, std::nullopt, "\"" + gone + "\""},
      {gone, true, "\"" + gone + "\""},
      {both, false,
       R"("First press \"Set up Podman\"., then Press \"Set up Podman\".. Press \"Set up Podman\".s")"},
      {"RUN: ZELK SETUP", false, R"("RUN: ZELK SETUP")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    RenderSnapshot snapshot;
    snapshot.status_line = c.line;
    snapshot.runtime_name = "Podman";
    snapshot.runtime_ok = c.runtime_ok;
    const std::string ok = c.runtime_ok ? (*c.runtime_ok ? "true" : "false") : "null";
    EXPECT_TRUE(render_document(snapshot).starts_with(document_prefix(c.note_json, ok))) << render_document(snapshot);
  }
}

TEST(RenderDocument, OffersPodmanDesktopOnlyWithPodman) {
  const struct {
    std::string runtime;
    bool found;
    std::string desktop;
  } cases[] = {{"Podman", true, "open"}, {"Podman", false, "install"}, {"Docker", true, ""}, {"Docker", false, ""}};
  for (const auto& c : cases) {
    RenderSnapshot snapshot;
    snapshot.runtime_name = c.runtime;
    snapshot.podman_desktop_found = c.found;
    snapshot.runtime_ok = true;
    EXPECT_NE(render_document(snapshot).find(R"(,"setup":false,"desktop":")" + c.desktop + R"(","apps":[],)"),
              std::string::npos)
        << c.runtime << " " << c.found;
  }
}

// ---- the shelves document ----

ShelfOffer offer(std::string file, std::string address, ShelfOffer::State state, std::optional<Recipe> recipe,
                 std::string message = "") {
  return {std::move(file), std::move(address), "", state, std::move(recipe), std::move(message)};
}

TEST(ShelvesDocument, WritesShelvesAndOffersInOrderWithNullsWhereNothingIsKnown) {
  const AddedRecipes added;
  const std::string own_address = "https://zelk.app/shelf/notes.yaml";
  const std::string other_address = "https://example.org/list/wiki.yaml";
  std::vector<ShelfView> shelves;
  shelves.push_back({"https://example.org/broken/shelf.yaml", "Line 2: a \"shelf\" <broken>", "", {}});
  ShelfView good{"https://zelk.app/shelf/shelf.yaml", std::nullopt, "Zelk's own", {}};
  good.offers.push_back(offer("notes.yaml", own_address, ShelfOffer::State::New, added.notes));
  good.offers.push_back(offer("wiki.yaml", other_address, ShelfOffer::State::Changed, added.wiki));
  good.offers.push_back(offer("user.yaml", other_address, ShelfOffer::State::Added, added.user));
  good.offers.push_back(offer("gone.yaml", "https://zelk.app/shelf/gone.yaml", ShelfOffer::State::Refused,
                              std::nullopt, "https://zelk.app/shelf/gone.yaml could not be fetched."));
  shelves.push_back(good);

  const std::string own_trust =
      "It comes from the Zelk's own shelf. The Zelk team tries every recipe before it is put there.";
  const std::string other_trust =
      "The Zelk team did not review it. Install it only if you trust who gave you the address: it runs a "
      "program on this computer.";
  // The description's escaping is json_text's, checked above.
  const auto shows = [](const Recipe& recipe) { return json_text(describe_recipe(recipe)); };
  const std::string expected =
      R"({"problem":"The shelf \u003c1> was taken out.","shelves":[)"
      R"({"address":"https://example.org/broken/shelf.yaml","name":null,)"
      R"("problem":"Line 2: a \"shelf\" \u003cbroken>","recipes":[]},)"
      R"({"address":"https://zelk.app/shelf/shelf.yaml","name":"Zelk's own","problem":null,"recipes":[)"
      R"({"file":"notes.yaml","address":")" + own_address + R"(","own":true,"from":"zelk.app","trust":")" +
      own_trust + R"(","id":"notes","name":"Notes","category":"Writing","summary":"Keep notes in your browser.",)"
      R"("helpers":0,"shows":)" + shows(added.notes) + R"(,"state":"new","problem":null},)"
      R"({"file":"wiki.yaml","address":")" + other_address + R"(","own":false,"from":"example.org","trust":")" +
      other_trust + R"(","id":"wiki","name":"Wiki caf)" "\u00e9" R"(","category":"Knowledge",)"
      R"("summary":"A wiki for your own notes.","helpers":3,"shows":)" + shows(added.wiki) +
      R"(,"state":"changed","problem":null},)"
      R"({"file":"user.yaml","address":")" + other_address + R"(","own":false,"from":"example.org","trust":")" +
      other_trust + R"(","id":"user","name":"User","category":"Tests","summary":"Uses Solo","helpers":0,)"
      R"("shows":)" + shows(added.user) + R"(,"state":"added","problem":null},)"
      R"({"file":"gone.yaml","address":"https://zelk.app/shelf/gone.yaml","own":true,"from":"zelk.app",)"
      R"("trust":")" + own_trust + R"(","id":null,"name":null,"category":null,"summary":null,"helpers":0,)"
      R"("shows":null,"state":"refused","problem":"https://zelk.app/shelf/gone.yaml could not be fetched."}]}],)";
  EXPECT_EQ(shelves_document("The shelf <1> was taken out.", shelves), expected + R"("answers":null})");
  EXPECT_EQ(shelves_document(std::nullopt, {}, "shelf-forget:https://a.example.org/<s>"),
            R"({"problem":null,"shelves":[],"answers":"shelf-forget:https://a.example.org/\u003cs>"})");
}

// ---- outcome and made ----

TEST(OutcomeDocument, CarriesTheRecipeOrTheRefusal) {
  const AddedRecipes added;
  const std::string warning =
      "Nobody has reviewed this recipe. It runs a program from the image named above: add it only if you trust "
      "who gave it to you.";
  const std::string notes_shows = json_text(describe_recipe(added.notes));
  EXPECT_EQ(build_outcome("preview", Admission{added.notes, false}),
            R"({"kind":"preview","ok":true,"name":"Notes","shows":)" + notes_shows + R"(,"warning":")" + warning +
                R"(","replaces":false})");
  EXPECT_EQ(build_outcome("add", Admission{added.notes, true}),
            R"({"kind":"add","ok":true,"name":"Notes","shows":)" + notes_shows + R"(,"warning":")" + warning +
                R"(","replaces":true})");
  EXPECT_EQ(build_outcome("add", std::unexpected(std::string("Line 3: \"x\" is\nnot <here>"))),
            R"({"kind":"add","ok":false,"error":"Line 3: \"x\" is\u000anot \u003chere>"})");
  // A refusal that quotes what a stranger wrote reaches the page with its controls visible, so
  // the page can show nothing but text.
  std::string hostile(samples::notes_recipe);
  hostile.replace(hostile.find("format: 1"), 9, "format: \"\x1b[2K\rzelk add x\xe2\x80\xae\"");
  EXPECT_EQ(build_outcome("preview", admit_recipe(hostile, {})),
            R"({"kind":"preview","ok":false,"error":"x-zelk: this Zelk reads formats 1 and 2; the file says )"
            R"(format \\x1b[2K\\rzelk add x\\u202e."})");
}

TEST(MadeDocument, ListsTheSecretsInUseThatTheSettingsHold) {
  const AddedRecipes added;
  // Wiki's secrets in use: DB_PASSWORD (the app's own), then INDEX_TOKEN (a helper's).
  const std::string settings =
      "# Settings of Wiki caf\u00e9.\nINDEX_TOKEN=abc\"<def\r\n DB_PASSWORD=indented\nDB_PASSWORD= p4ss \n"
      "DB_PASSWORD=second\nOTHER=1\n";
  const std::vector<MadeItem> items = made_items(added.wiki, settings);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].key, "DB_PASSWORD");
  EXPECT_EQ(items[0].value, "p4ss");
  EXPECT_EQ(items[1].key, "INDEX_TOKEN");
  EXPECT_EQ(items[1].value, "abc\"<def");
  EXPECT_EQ(made_document("Wiki caf\u00e9", "C:\\Users\\\u00e9\\.torvo\\apps\\wiki\\.env", items),
            R"({"name":"Wiki caf)" "\u00e9" R"(","file":"C:\\Users\\)" "\u00e9"
            R"(\\.torvo\\apps\\wiki\\.env","items":[{"key":"DB_PASSWORD","value":"p4ss"},)"
            R"({"key":"INDEX_TOKEN","value":"abc\"\u003cdef"}]})");
  // A missing line leaves the secret out; an empty value is still a value; no text, no items.
  const std::vector<MadeItem> one = made_items(added.wiki, "INDEX_TOKEN=\n");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].key, "INDEX_TOKEN");
  EXPECT_EQ(one[0].value, "");
  EXPECT_TRUE(made_items(added.wiki, "").empty());
  EXPECT_EQ(made_document("Notes", "", {}), R"({"name":"Notes","file":"","items":[]})");
  // A settings file may come from someone else's backup: its values are shown as text.
  const std::vector<MadeItem> hostile = made_items(added.wiki, "INDEX_TOKEN=\x1b[2K\rzelk add \xe2\x80\xaex\n");
  ASSERT_EQ(hostile.size(), 1u);
  EXPECT_EQ(hostile[0].value, "\\x1b[2K\\rzelk add \\u202ex");
}

TEST(PageScript, IsTheFunctionCalledWithTheDocumentAndNothingAfter) {
  EXPECT_EQ(page_script("render", R"({"a":1})"), R"(render({"a":1}))");
  EXPECT_EQ(page_script("made", "{}"), "made({})");
}

}  // namespace
}  // namespace zelk
