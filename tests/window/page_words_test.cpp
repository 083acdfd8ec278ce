#include "page_words.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "app_lock.h"
#include "apps.h"
#include "catalogue_fixtures.h"
#include "console_starts.h"
#include "documents.h"
#include "envfile.h"
#include "files.h"
#include "loop_rig.h"
#include "platform.h"
#include "shelf.h"
#include "test_recipes.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

class PageWords : public testing::Test {
 protected:
  LoopRig rig;

  /// Starts the loop and applies a states read with the given states.
  void start(std::map<std::string, AppState> states = {}) {
    rig.start();
    rig.drop_workers();
    rig.user(Resumed{});
    rig.drop_workers();
    rig.user(rig.read(rig.app().refreshes_started, std::move(states)));
  }
  void add(std::string_view file, std::string_view text) { put_file(rig.folder.path() / "recipes" / file, text); }
};

// ---- app commands ----

TEST_F(PageWords, OpenTwiceStartsOneCommand) {
  start();
  const std::size_t before = rig.workers.started;
  rig.page("open:gitea");
  rig.page("open:gitea");
  rig.user(MenuClicked{"open:gitea"});
  EXPECT_EQ(rig.workers.started, before + 1);
  EXPECT_EQ(rig.entry("gitea").busy, "open");
  EXPECT_EQ(rig.submenu("gitea").text, "Gitea  -  starting ...");
  EXPECT_FALSE(rig.item("open:gitea").enabled);
}

TEST_F(PageWords, RemoveOnlyForAnAppWhoseContainersStand) {
  struct Case {
    AppState state;
    bool starts;
  };
  const std::vector<Case> cases{{AppState::state("exited"), true},  {AppState::state("partly running"), true},
                                {AppState::state("created"), true}, {AppState::ready(), false},
                                {AppState::starting(), false},      {AppState::not_installed(), false},
                                {AppState::unknown(), false}};
  for (const Case& c : cases) {
    LoopRig fresh;
    fresh.start();
    fresh.drop_workers();
    fresh.user(fresh.read(1, {{"gitea", c.state}}));
    fresh.user(Resumed{});
    fresh.drop_workers();
    const std::size_t before = fresh.workers.started;
    fresh.page("remove:gitea");
    EXPECT_EQ(fresh.workers.started, before + (c.starts ? 1 : 0)) << testing::PrintToString(c.state.text);
    EXPECT_EQ(fresh.entry("gitea").busy, c.starts ? std::optional<std::string>("remove") : std::nullopt);
    if (c.starts) {
      EXPECT_EQ(fresh.submenu("gitea").text, "Gitea  -  removing ...");
    }
  }
}

TEST_F(PageWords, EachCommandWordRunsItsCommandForTheApp) {
  rig.world.runner->on("podman", {"ps"}, ScriptedRunner::ok("torvo-gitea\trunning\t\n"));
  rig.world.runner->on("podman", {"stop"}, ScriptedRunner::ok());
  rig.start();
  rig.settle();
  rig.page("stop:gitea");
  rig.settle();
  const auto runs = rig.world.runner->run_lines();
  EXPECT_NE(std::find(runs.begin(), runs.end(), "podman stop torvo-gitea"), runs.end());
  EXPECT_EQ(rig.entry("gitea").busy, std::nullopt);  // the read after CommandDone made it idle
  EXPECT_EQ(rig.app().status_line, "Podman is running");
}

TEST_F(PageWords, WordsThatMatchNothingDoNothing) {
  start();
  rig.user(ShowWindow{});
  rig.shell.scripts.clear();
  const std::string line = rig.app().status_line;
  const std::size_t before = rig.workers.started;
  for (const char* text :
       {"", "frobnicate", "Refresh", "open", "open:", "open:nope", "stop:Gitea", "frobnicate:gitea", "lesson:nope",
        "first:nope", "passwords:gitea", "forget:nope", "shelf-take:nowhere", "shelf-install:"}) {
    rig.app().status_note = "a note";
    rig.page(text);
    EXPECT_EQ(rig.app().status_note, std::nullopt) << text;  // every word clears the note
    EXPECT_EQ(rig.app().status_line, line) << text;
    EXPECT_EQ(rig.workers.started, before) << text;
    EXPECT_EQ(rig.shell.scripts_of("render").size(), rig.shell.scripts.size()) << text;
  }
  EXPECT_TRUE(rig.shell.consoles.empty());
  EXPECT_TRUE(rig.world.opened().empty());
}

// ---- recipes from text ----

TEST_F(PageWords, APreviewOfMoreThan65536BytesIsRefusedWithTheCoresMessage) {
  start();
  rig.user(ShowWindow{});
  const std::string big = padded_to(sample_recipe("notes", "Notes", 34567), 65537);
  rig.page("preview:" + big);
  const std::expected<Admission, std::string> refused =
      std::unexpected(std::string("This is too large to be a recipe."));
  EXPECT_EQ(admit_recipe(big, builtin_recipes()).error(), refused.error());
  EXPECT_EQ(rig.shell.scripts_of("outcome"),
            std::vector<std::string>{"outcome(" + build_outcome("preview", refused) + ")"});
  EXPECT_FALSE(fs::exists(rig.folder.path() / "recipes" / "notes.yaml"));
}

TEST_F(PageWords, APreviewWritesNothingAndAnAddKeepsTheRecipeAndReloads) {
  start();
  rig.user(ShowWindow{});
  const std::string text = sample_recipe("notes", "Notes", 34567);
  rig.page("preview:" + text);
  EXPECT_FALSE(fs::exists(rig.folder.path() / "recipes" / "notes.yaml"));
  EXPECT_EQ(find_entry(rig.app(), "notes"), nullptr);
  rig.page("add:" + text);
  EXPECT_EQ(read_file(rig.folder.path() / "recipes" / "notes.yaml").value_or(""), text);
  EXPECT_EQ(rig.entry("notes").recipe->name, "Notes");
  EXPECT_EQ(rig.submenu("notes").text, "Notes");
  const Admission admitted{read_recipe(text).value(), false};
  EXPECT_EQ(rig.shell.scripts_of("outcome"),
            (std::vector<std::string>{"outcome(" + build_outcome("preview", admitted) + ")",
                                      "outcome(" + build_outcome("add", admitted) + ")"}));
  // The same text again replaces the recipe; with the window closed nothing is sent.
  rig.handle(WindowCloseRequested{});
  rig.page("add:" + text);
  EXPECT_EQ(rig.shell.scripts_of("outcome").size(), 2u);
}

TEST_F(PageWords, AnAddedTextDropsTheOriginOfAnEarlierRecipeOfItsId) {
  // The recipe came from the Zelk's own shelf; then the user pastes the very same text.
  const std::string text = sample_recipe("notes", "Notes", 34567);
  const std::string shelf_recipe = "https://zelk.app/shelf/notes.yaml";
  add("notes.yaml", text);
  ASSERT_TRUE(keep_origin(rig.folder.path(), "notes", shelf_recipe, text));
  start();
  ASSERT_EQ(rig.entry("notes").recipe->from, shelf_recipe);

  rig.page("add:" + text);
  EXPECT_EQ(rig.entry("notes").recipe->from, "");
  EXPECT_FALSE(fs::exists(origin_path(rig.folder.path(), "notes")));
  EXPECT_EQ(read_file(recipe_path(rig.folder.path(), "notes")).value_or(""), text);
}

TEST_F(PageWords, AnAddWithoutADataFolderSaysSo) {
  rig.world.home = std::nullopt;
  start();
  rig.user(ShowWindow{});
  rig.page("add:" + sample_recipe("notes", "Notes", 34567));
  const std::expected<Admission, std::string> refused = std::unexpected(std::string("No home directory was found."));
  EXPECT_EQ(rig.shell.scripts_of("outcome"),
            std::vector<std::string>{"outcome(" + build_outcome("add", refused) + ")"});
}

// ---- shelves ----

ShelfOffer offer(std::string address, std::string text) {
  auto recipe = read_recipe(text);
  return ShelfOffer{address.substr(address.rfind('/') + 1),
                    address,
                    text,
                    ShelfOffer::State::New,
                    recipe ? std::optional<Recipe>(*recipe) : std::nullopt,
                    ""};
}

TEST_F(PageWords, ShelfWordsPassEverythingAfterTheFirstColonAsTheAddress) {
  start();
  const std::string address = "https://example.org:8443/a:b/shelf.yaml";
  rig.world.runner->on("curl", {}, ScriptedRunner::failed(7, "curl: (7) Failed to connect\n"));
  rig.page("shelf-add:" + address);
  rig.settle();
  const auto runs = rig.world.runner->runs();
  ASSERT_FALSE(runs.empty());
  const auto fetch = std::find_if(runs.begin(), runs.end(), [](const RecordedRun& r) { return r.program == "curl"; });
  ASSERT_NE(fetch, runs.end());
  EXPECT_EQ(fetch->args, curl_arguments(address, fetch_size_limit, fetch_curl_seconds));
  EXPECT_EQ(rig.app().shelves.size(), 1u);  // the default shelf, gathered anyway

  write_shelf_addresses(rig.folder.path(), std::vector<std::string>{address, "https://example.org/x.yaml"}).value();
  rig.page("shelf-forget:" + address);
  rig.settle();
  EXPECT_EQ(read_file(shelves_path(rig.folder.path())).value_or(""), "https://example.org/x.yaml\n");
  rig.page("shelves");
  EXPECT_EQ(rig.workers.held.size(), 1u);
}

TEST_F(PageWords, AShelfAddressThatIsNeverFetchedIsAnsweredAtOnceForWhatItIs) {
  start();
  rig.user(ShowWindow{});
  const std::vector<ShelfView> shown{ShelfView{"https://example.org/a/shelf.yaml", std::nullopt, "A", {}}};
  rig.user(ShelvesRead{std::nullopt, shown});
  rig.shell.scripts.clear();
  rig.drop_workers();
  const std::string address = "https://b\xc3\xbc" "cher.example/shelf.yaml";
  rig.page("shelf-add:" + address);
  EXPECT_TRUE(rig.workers.held.empty());  // no worker fetches every shelf again first
  rig.deliver();
  const std::string refusal = "\"" + address +
                              "\" is not an address the Zelk fetches. Its host holds characters other than plain "
                              "ASCII; write the host in its \"xn--\" form.";
  EXPECT_EQ(rig.shell.scripts_of("shelves"),
            std::vector<std::string>{"shelves(" + shelves_document(refusal, shown, "shelf-add:" + address) + ")"});
  EXPECT_TRUE(rig.world.runner->runs().empty());

  // The same shelf with a "#fragment" is not a second one, and goes out with the address.
  write_shelf_addresses(rig.folder.path(), std::vector<std::string>{"https://example.org/a/shelf.yaml"}).value();
  rig.world.runner->on("curl", {}, ScriptedRunner::ok("shelf: 1\nname: A\nrecipes:\n  - a.yaml\n"));
  rig.page("shelf-add:https://example.org/a/shelf.yaml#week-3");
  rig.settle();
  EXPECT_EQ(read_file(shelves_path(rig.folder.path())).value_or(""), "https://example.org/a/shelf.yaml\n");
  rig.page("shelf-forget:https://example.org/a/shelf.yaml#week-3");
  rig.settle();
  EXPECT_EQ(read_file(shelves_path(rig.folder.path())).value_or(""), "");
}

TEST_F(PageWords, TakingAShelfRecipeKeepsItWithItsOriginAndMarksTheOffers) {
  start();
  rig.user(ShowWindow{});
  const std::string lf = sample_recipe("notes", "Notes", 34567);
  const std::string crlf = sample_recipe("notes", "Notes", 34567, "\r\n");
  const std::string other = sample_recipe("notes", "Notes Two", 34567);
  const std::string a = "https://example.org/a/notes.yaml";
  const std::string b = "https://example.org/b/notes.yaml";
  const std::string c = "https://example.org/c/notes.yaml";
  std::vector<ShelfView> shelves{
      ShelfView{"https://example.org/a/shelf.yaml", std::nullopt, "A", {offer(a, lf)}},
      ShelfView{"https://example.org/b/shelf.yaml", std::nullopt, "B", {offer(b, crlf), offer(c, other)}},
  };
  rig.user(ShelvesRead{std::nullopt, shelves});
  rig.shell.scripts.clear();
  rig.drop_workers();

  rig.page("shelf-take:" + a);
  EXPECT_EQ(read_file(recipe_path(rig.folder.path(), "notes")).value_or(""), lf);
  EXPECT_EQ(read_file(origin_path(rig.folder.path(), "notes")).value_or(""), a + "\n" + recipe_hash_line(lf) + "\n");
  EXPECT_EQ(rig.app().shelves[0].offers[0].state, ShelfOffer::State::Added);
  EXPECT_EQ(rig.app().shelves[1].offers[0].state, ShelfOffer::State::Added);  // CRLF against LF
  EXPECT_EQ(rig.app().shelves[1].offers[1].state, ShelfOffer::State::Changed);
  EXPECT_EQ(rig.app().status_line, "Notes is in the list now.");
  EXPECT_EQ(rig.entry("notes").recipe->from, a);
  EXPECT_EQ(rig.entry("notes").busy, std::nullopt);
  EXPECT_EQ(rig.workers.held.size(), 1u);  // the reload's refresh
  EXPECT_EQ(rig.shell.scripts_of("shelves"),
            std::vector<std::string>{"shelves(" + shelves_document(std::nullopt, rig.app().shelves) + ")"});

  // Installing the other text replaces it and starts "open".
  rig.drop_workers();
  rig.page("shelf-install:" + c);
  EXPECT_EQ(read_file(recipe_path(rig.folder.path(), "notes")).value_or(""), other);
  EXPECT_EQ(rig.app().shelves[0].offers[0].state, ShelfOffer::State::Changed);
  EXPECT_EQ(rig.app().shelves[1].offers[1].state, ShelfOffer::State::Added);
  EXPECT_EQ(rig.entry("notes").busy, "open");
  EXPECT_EQ(rig.entry("notes").recipe->name, "Notes Two");
  EXPECT_EQ(rig.workers.held.size(), 2u);  // the reload's refresh and the command
}

TEST_F(PageWords, AFailedTakeIsTheStatusNoteAndSendsNoShelves) {
  start();
  rig.user(ShowWindow{});
  const std::string taken = sample_recipe("gitea", "My Gitea", 34567);
  const std::string address = "https://example.org/a/gitea.yaml";
  rig.user(ShelvesRead{std::nullopt,
                       {ShelfView{"https://example.org/a/shelf.yaml", std::nullopt, "A", {offer(address, taken)}}}});
  rig.shell.scripts.clear();
  rig.page("shelf-take:" + address);
  EXPECT_EQ(rig.app().status_note, "The id \"gitea\" belongs to Gitea, which is built in. Choose another id.");
  EXPECT_EQ(rig.app().status_line, *rig.app().status_note);
  EXPECT_TRUE(rig.shell.scripts_of("shelves").empty());
  EXPECT_FALSE(fs::exists(recipe_path(rig.folder.path(), "gitea")));
}

TEST_F(PageWords, AnOfferThatWasNotFetchedCannotBeTaken) {
  start();
  const std::string address = "https://example.org/a/notes.yaml";
  ShelfOffer missing{"notes.yaml", address, "", ShelfOffer::State::Refused, std::nullopt, "could not be fetched"};
  rig.user(ShelvesRead{std::nullopt, {ShelfView{"https://example.org/a/shelf.yaml", std::nullopt, "A", {missing}}}});
  const std::string line = rig.app().status_line;
  rig.page("shelf-take:" + address);
  EXPECT_EQ(rig.app().status_line, line);
  EXPECT_FALSE(fs::exists(recipes_folder(rig.folder.path())));
}

// ---- forget ----

TEST_F(PageWords, ForgetTakesOutOnlyAnAddedAppKnownNotToBeInstalled) {
  add("notes.yaml", sample_recipe("notes", "Notes", 34567));
  put_file(origin_path(rig.folder.path(), "notes"), "https://example.org/notes.yaml\nabc\n");
  add("diary.yaml", sample_recipe("diary", "Diary", 34568));
  rig.start();
  rig.drop_workers();
  rig.page("forget:notes");  // not read yet
  EXPECT_EQ(rig.app().status_line, "Notes is still installed or built in, and stays in the list.");
  rig.user(rig.read(1, {{"diary", AppState::state("exited")}}));
  rig.page("forget:gitea");
  EXPECT_EQ(rig.app().status_line, "Gitea is still installed or built in, and stays in the list.");
  rig.page("forget:diary");
  EXPECT_EQ(rig.app().status_line, "Diary is still installed or built in, and stays in the list.");

  {
    // A command of another thread holds Notes (a console's first start, say): the word waits
    // for nothing and takes nothing out.
    std::promise<void> taken, done;
    std::jthread console([&] {
      auto held = try_lock_app(rig.folder.path(), "notes");
      EXPECT_TRUE(held && *held);
      taken.set_value();
      done.get_future().wait();
    });
    taken.get_future().wait();
    rig.page("forget:notes");
    EXPECT_EQ(rig.app().status_line, "Another Zelk command on Notes is running. Try again once it has ended.");
    EXPECT_TRUE(fs::exists(recipe_path(rig.folder.path(), "notes")));
    done.set_value();
  }
  rig.page("forget:notes");
  EXPECT_EQ(rig.app().status_line, "Notes is out of the list.");
  EXPECT_FALSE(fs::exists(recipe_path(rig.folder.path(), "notes")));
  EXPECT_FALSE(fs::exists(origin_path(rig.folder.path(), "notes")));
  EXPECT_EQ(find_entry(rig.app(), "notes"), nullptr);
  EXPECT_EQ(rig.shell.item("open:notes"), nullptr);
  EXPECT_NE(find_entry(rig.app(), "diary"), nullptr);
}

TEST_F(PageWords, ForgetRefusesWhileAnyContainerOfTheAppStands) {
  // A first start that failed after the helper was made: the app itself reads "not installed".
  add("pair.yaml", sample_recipe_with_helper("pair", "db", "Pair", 34570));
  rig.start();
  rig.drop_workers();
  StatesRead read = rig.read(1);
  for (StateRow& row : read.result->rows) {
    if (row.id == "pair") row.containers = {"torvo-pair-db"};
  }
  rig.user(std::move(read));
  ASSERT_EQ(rig.entry("pair").status, AppState::not_installed());

  rig.page("forget:pair");
  EXPECT_EQ(rig.app().status_line, "Pair is still installed. Remove it first: zelk remove pair");
  EXPECT_TRUE(fs::exists(recipe_path(rig.folder.path(), "pair")));
  EXPECT_NE(find_entry(rig.app(), "pair"), nullptr);

  // Once the read finds none of its containers, it can go.
  rig.user(rig.read(rig.app().refreshes_started));
  rig.page("forget:pair");
  EXPECT_EQ(rig.app().status_line, "Pair is out of the list.");
  EXPECT_FALSE(fs::exists(recipe_path(rig.folder.path(), "pair")));
}

TEST_F(PageWords, ForgetOfABusyAppDoesNothing) {
  add("notes.yaml", sample_recipe("notes", "Notes", 34567));
  start({{"notes", AppState::state("exited")}});
  rig.page("remove:notes");
  rig.user(rig.read(rig.app().refreshes_started + 1));  // the app is gone, the command not ended
  const std::string line = rig.app().status_line;
  rig.page("forget:notes");
  EXPECT_EQ(rig.app().status_line, line);
  EXPECT_TRUE(fs::exists(recipe_path(rig.folder.path(), "notes")));
}

// ---- passwords ----

TEST_F(PageWords, PasswordsShowTheMadeSecretsOfAnAddedAppWhileTheWindowIsOpen) {
  add("solo.yaml", solo_recipe_text);
  put_file(settings_path(rig.folder.path(), "solo"), "TORVO_PORT=40123\nSOLO_TOKEN= abc \n");
  start({{"solo", AppState::ready()}});
  rig.page("passwords:solo");
  EXPECT_TRUE(rig.shell.scripts.empty());  // no window
  rig.user(ShowWindow{});
  rig.page("passwords:solo");
  rig.page("passwords:gitea");
  const Recipe solo = read_recipe(solo_recipe_text).value();
  const std::vector<MadeItem> items{{"SOLO_TOKEN", "abc"}};
  EXPECT_EQ(rig.shell.scripts_of("made"),
            std::vector<std::string>{
                "made(" + made_document("Solo", path_to_utf8(settings_path(rig.folder.path(), "solo")), items) + ")"});
}

// ---- folders, pages and programs ----

TEST_F(PageWords, DataLessonAndFirstStepsOpenTheirAddresses) {
  add("solo.yaml", std::string(solo_recipe_text) + "  lesson: https://example.org/lesson\n");
  start();
  rig.page("data");
  rig.page("lesson:solo");
  rig.page("lesson:gitea");  // no lesson
  rig.page("first:gitea");
  rig.page("first:solo");  // not built in
  EXPECT_EQ(rig.world.opened(), (std::vector<std::string>{path_to_utf8(rig.folder.path()), "https://example.org/lesson",
                                                          "https://zelk.app/help/#first-gitea"}));
}

TEST_F(PageWords, DataMakesTheFolderWhenItIsNotThereYetOrSaysWhyItCannot) {
  const fs::path home = rig.folder.path() / "not yet";
  rig.world.home = home;
  start();
  rig.page("data");
  EXPECT_TRUE(fs::is_directory(home));
  if (platform_word != "windows") {  // the program's own folder is its user's alone
    EXPECT_EQ(fs::status(home).permissions() & fs::perms::all, fs::perms::owner_all);
  }
  EXPECT_EQ(rig.world.opened(), std::vector<std::string>{path_to_utf8(home)});

  // A file stands where the folder goes.
  fs::remove(home);
  put_file(home, "not a folder");
  const auto refused = make_data_folder(home);  // what the system says of it
  ASSERT_FALSE(refused);
  rig.page("data");
  EXPECT_EQ(rig.app().status_line,
            "The data folder \"" + path_to_utf8(home) + "\" could not be opened: " + refused.error());
  EXPECT_EQ(rig.world.opened().size(), 1u);
}

TEST_F(PageWords, SetupStartsZelkInAConsoleWhenItIsNextToTheProgram) {
  start();
  rig.shell.folder = rig.folder.path();
  rig.page("setup");
  EXPECT_EQ(rig.app().status_line, "The setup could not be started: zelk.exe is not next to this program.");
  EXPECT_TRUE(rig.shell.consoles.empty());
  put_file(rig.folder.path() / "zelk.exe", "MZ");
  rig.page("setup");
  EXPECT_EQ(rig.shell.consoles,
            (std::vector<FakeShell::Console>{
                {setup_console_arguments(path_to_utf8(rig.folder.path() / "zelk.exe")), std::nullopt}}));
  rig.shell.folder = std::unexpected(std::string("The program's own path could not be read."));
  rig.page("setup");
  EXPECT_EQ(rig.app().status_line, "The setup could not be started: The program's own path could not be read.");
}

TEST_F(PageWords, PodmanDesktopIsOpenedWhenFoundAndFetchedWhenNot) {
  start();
  rig.page("desktop");
  EXPECT_EQ(rig.app().status_line, "Podman Desktop could not be opened: Podman Desktop is not installed.");
  rig.page("desktop-get");
  EXPECT_EQ(rig.shell.consoles, (std::vector<FakeShell::Console>{{desktop_get_console_arguments(), std::nullopt}}));

  rig.podman_desktop = fs::path("/opt/Podman Desktop/Podman Desktop.exe");
  rig.page("desktop-get");  // already there: nothing
  EXPECT_EQ(rig.shell.consoles.size(), 1u);
  rig.page("desktop");
  EXPECT_EQ(rig.shell.detached, std::vector<fs::path>{*rig.podman_desktop});

  rig.shell.start_error = "Access is denied. (os error 5)";
  rig.page("desktop");
  EXPECT_EQ(rig.app().status_line, "Podman Desktop could not be opened: Access is denied. (os error 5)");
  rig.podman_desktop.reset();
  rig.page("desktop-get");
  EXPECT_EQ(rig.app().status_line, "Podman Desktop could not be fetched: Access is denied. (os error 5)");
}

TEST_F(PageWords, TheTerminalRunsTheRuntimeThatAnsweredWithItsFolderOnPath) {
  rig.environment["PATH"] = "/usr/bin:/bin";
  rig.programs["podman"] = "/opt/podman/bin/podman";
  rig.start();
  rig.drop_workers();
  rig.page("terminal");  // Podman until a read names another runtime
  rig.user(rig.read(1, {}, "Docker"));
  rig.page("terminal");
  EXPECT_EQ(rig.shell.consoles,
            (std::vector<FakeShell::Console>{
                {R"(/k "title podman - Valdroven AI Zelk & podman ps -a")", "/opt/zelk:/opt/podman/bin:/usr/bin:/bin"},
                {R"(/k "title docker - Valdroven AI Zelk & docker ps -a")", "/opt/zelk:/usr/bin:/bin"}}));
  rig.shell.start_error = "The system cannot find the file specified. (os error 2)";
  rig.page("terminal");
  EXPECT_EQ(rig.app().status_line,
            "The terminal could not be opened: The system cannot find the file specified. (os error 2)");
}

}  // namespace
}  // namespace zelk
