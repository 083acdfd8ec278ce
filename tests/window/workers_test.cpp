#include "workers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apps.h"
#include "catalogue_fixtures.h"
#include "files.h"
#include "platform.h"
#include "probes_in_flight.h"
#include "scoped_env.h"
#include "sha256.h"
#include "shelf.h"
#include "test_folder.h"
#include "update.h"
#include "window_fakes.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

SharedCatalogue catalogue_of(const std::optional<fs::path>& home) {
  if (!home) return std::make_shared<RecipeCatalogue>(RecipeCatalogue{builtin_recipes(), {}});
  return std::make_shared<RecipeCatalogue>(load_catalogue(*home));
}

std::shared_ptr<const Recipe> recipe_by_id(const SharedCatalogue& catalogue, std::string_view id) {
  for (std::size_t i = 0; i < catalogue->recipes.size(); ++i) {
    if (catalogue->recipes[i].id == id) return shared_recipe(catalogue, i);
  }
  ADD_FAILURE() << "no recipe " << id;
  return nullptr;
}

std::vector<std::string> lines_sent(const std::vector<UserEvent>& events) {
  std::vector<std::string> lines;
  for (const UserEvent& event : events) {
    if (const auto* line = std::get_if<CommandLine>(&event)) lines.push_back(line->line);
  }
  return lines;
}

// ---- LineWriter ----

struct LineCase {
  std::vector<std::string> writes;
  std::vector<std::string> lines;
};

TEST(LineWriter, CutsTheOutputIntoLines) {
  const std::vector<LineCase> cases{
      {{"Pulling ima", "ge ...\nDone\n"}, {"Pulling image ...", "Done"}},
      {{"one\r\n", "two\r", "\n"}, {"one\r", "two\r"}},
      {{"\n\n", "x\n", "\n"}, {"x"}},
      {{"first\nsecond without a line end"}, {"first"}},
      {{"bad \xff byte\n", "cut \xe2\x82", "\n"}, {"bad \xef\xbf\xbd byte", "cut \xef\xbf\xbd"}},
      {{""}, {}},
  };
  const auto catalogue = catalogue_of(std::nullopt);
  for (const LineCase& c : cases) {
    auto proxy = std::make_shared<RecordingProxy>();
    {
      LineWriter writer(proxy, shared_recipe(catalogue, 1));
      for (const std::string& bytes : c.writes) writer.write(bytes);
    }
    const auto events = proxy->events();
    EXPECT_EQ(lines_sent(events), c.lines) << testing::PrintToString(c.writes);
    for (const UserEvent& event : events) {
      EXPECT_EQ(std::get<CommandLine>(event).recipe->id, "gitea");
    }
  }
}

// ---- refresh_states ----

class Workers : public testing::Test {
 protected:
  TestFolder folder;
  FakeWorkerWorld world{folder.path()};
  RecordingProxy proxy;

  void add_recipe(std::string_view id, std::string_view name, unsigned port) {
    put_file(folder.path() / "recipes" / (std::string(id) + ".yaml"), sample_recipe(id, name, port));
  }
};

TEST_F(Workers, RefreshReadsEveryAppsStateAndAddressInCatalogueOrder) {
  add_recipe("notes", "Notes", 34567);
  put_file(folder.path() / "recipes" / "pair.yaml", sample_recipe_with_helper("pair", "db", "Pair", 34570));
  put_file(folder.path() / "apps" / "notes" / ".env", "TORVO_PORT=40001\n");
  world.runner->on("podman", {"ps"},
                   ScriptedRunner::ok("torvo-gitea\trunning\t\ntorvo-n8n\texited\t\ntorvo-ollama\trunning\t\n"
                                      "torvo-notes\trunning\t\ntorvo-pair\trunning\t\ntorvo-pair-db\texited\t\n"));
  world.probe_answer = [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    if (port == 33009) return 200;  // Gitea answers; Ollama and Notes do not yet
    return std::nullopt;
  };
  const auto catalogue = catalogue_of(folder.path());
  refresh_states(proxy, *world.services(), *catalogue, 7);

  const auto events = proxy.events();
  ASSERT_EQ(events.size(), 1u);
  const auto& read = std::get<StatesRead>(events[0]);
  EXPECT_EQ(read.number, 7u);
  ASSERT_TRUE(read.result) << read.result.error();
  EXPECT_EQ(read.result->runtime_name, "Podman");
  EXPECT_EQ(read.result->rows, (std::vector<StateRow>{
                                   {AppState::state("exited"), "http://127.0.0.1:35678/", "n8n", {"torvo-n8n"}},
                                   {AppState::ready(), "http://127.0.0.1:33009/", "gitea", {"torvo-gitea"}},
                                   {AppState::not_installed(), "http://127.0.0.1:33000/", "open-webui", {}},
                                   {AppState::starting(), "http://127.0.0.1:31434/", "ollama", {"torvo-ollama"}},
                                   {AppState::starting(), "http://127.0.0.1:40001/", "notes", {"torvo-notes"}},
                                   {AppState::state("partly running"), "http://127.0.0.1:34570/", "pair",
                                    {"torvo-pair", "torvo-pair-db"}},
                               }));
}

TEST_F(Workers, RefreshProbesTheRunningAppsSideBySide) {
  world.runner->on("podman", {"ps"}, ScriptedRunner::ok("torvo-gitea\trunning\t\ntorvo-ollama\trunning\t\n"));
  ProbesInFlight late(2, [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    if (port == 31434) return 200;
    return std::nullopt;
  });
  world.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };
  const auto catalogue = catalogue_of(folder.path());
  refresh_states(proxy, *world.services(), *catalogue, 3);

  const auto read = std::get<StatesRead>(proxy.events().at(0));
  ASSERT_TRUE(read.result) << read.result.error();
  std::vector<AppState> states;
  for (const StateRow& row : read.result->rows) states.push_back(row.state);
  EXPECT_EQ(states, (std::vector<AppState>{AppState::not_installed(), AppState::starting(), AppState::not_installed(),
                                           AppState::ready()}));
  EXPECT_TRUE(late.met()) << "the apps were probed one after another";
}

TEST_F(Workers, RefreshNamesDockerWhenOnlyDockerAnswersAndGivesTheRuntimeMessageWhenNoneDoes) {
  world.runner->on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  world.runner->on("docker", {"ps"}, ScriptedRunner::ok(""));
  const auto catalogue = catalogue_of(folder.path());
  refresh_states(proxy, *world.services(), *catalogue, 1);
  ASSERT_TRUE(std::get<StatesRead>(proxy.events().at(0)).result);
  EXPECT_EQ(std::get<StatesRead>(proxy.events().at(0)).result->runtime_name, "Docker");

  world.runner->on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  refresh_states(proxy, *world.services(), *catalogue, 2);
  const auto failed = std::get<StatesRead>(proxy.events().at(1));
  EXPECT_EQ(failed.number, 2u);
  ASSERT_FALSE(failed.result);
  EXPECT_EQ(failed.result.error(), choose_runtime(*world.runner).error());
  EXPECT_TRUE(failed.result.error().starts_with("No usable container runtime was found.")) << failed.result.error();
}

// ---- without a data folder ----

TEST(WorkersWithoutHome, EachSaysNoHomeDirectoryWasFound) {
  FakeWorkerWorld world(std::nullopt);
  const auto services = world.services();
  const auto catalogue = catalogue_of(std::nullopt);
  auto proxy = std::make_shared<RecordingProxy>();

  resume_apps_in_window(*proxy, *services, *catalogue);
  refresh_states(*proxy, *services, *catalogue, 3);
  run_shelf_work(*proxy, *services, *catalogue, ShelfWord{"add", "https://example.org/shelf.yaml"}, 1);
  install_update_in_window(*proxy, *services, UpdateOffer{"9.0.0", "z.exe", std::string(64, 'a'), 7}, true);
  run_app_command(proxy, *services, *catalogue, "open", shared_recipe(catalogue, 0));

  const auto events = proxy->events();
  ASSERT_EQ(events.size(), 5u);
  const std::string message = "No home directory was found.";
  EXPECT_EQ(std::get<Resumed>(events[0]).result.error(), message);
  EXPECT_EQ(std::get<StatesRead>(events[1]).result.error(), message);
  EXPECT_EQ(std::get<ShelvesRead>(events[2]).problem, message);
  EXPECT_TRUE(std::get<ShelvesRead>(events[2]).shelves.empty());
  EXPECT_EQ(std::get<UpdateInstalled>(events[3]).result.error(), message);
  EXPECT_EQ(std::get<CommandDone>(events[4]).result.error(), message);
  EXPECT_EQ(std::get<CommandDone>(events[4]).recipe->id, "n8n");
  EXPECT_TRUE(world.runner->runs().empty());
}

// ---- resume ----

TEST_F(Workers, ResumeRunsTheResumeCommandAndShowsNothingOfItsOutput) {
  const auto catalogue = catalogue_of(folder.path());
  resume_apps_in_window(proxy, *world.services(), *catalogue);
  ASSERT_EQ(proxy.events().size(), 1u);
  EXPECT_TRUE(std::get<Resumed>(proxy.events()[0]).result);  // nothing was left running

  put_file(folder.path() / "apps" / "gitea" / "running", "");
  world.runner->on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  world.runner->on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  resume_apps_in_window(proxy, *world.services(), *catalogue);
  ASSERT_EQ(proxy.events().size(), 2u);
  const auto failed = std::get<Resumed>(proxy.events()[1]);
  ASSERT_FALSE(failed.result);
  EXPECT_EQ(failed.result.error(), choose_runtime(*world.runner).error());
}

// ---- app commands ----

TEST_F(Workers, AnAppCommandSendsItsLinesBeforeItsEnd) {
  world.runner->on("podman", {"ps"}, ScriptedRunner::ok("torvo-gitea\trunning\t\n"));
  world.runner->on("podman", {"stop"}, ScriptedRunner::ok());
  const auto catalogue = catalogue_of(folder.path());
  auto shared_proxy = std::make_shared<RecordingProxy>();
  run_app_command(shared_proxy, *world.services(), *catalogue, "stop", recipe_by_id(catalogue, "gitea"));

  const auto events = shared_proxy->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(std::get<CommandLine>(events[0]).line, "Gitea is stopped.");
  const auto& done = std::get<CommandDone>(events[1]);
  EXPECT_TRUE(done.result);
  EXPECT_EQ(done.recipe->id, "gitea");
  EXPECT_EQ(world.runner->run_lines(),
            (std::vector<std::string>{"podman ps -a --format {{.Names}}\t{{.State}}\t{{.Labels}}",
                                      "podman stop torvo-gitea"}));
}

TEST_F(Workers, TheModelCommandNamesNoAppAndAFailureComesBackAsItsMessage) {
  world.runner->on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  world.runner->on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  const auto catalogue = catalogue_of(folder.path());
  auto shared_proxy = std::make_shared<RecordingProxy>();
  run_app_command(shared_proxy, *world.services(), *catalogue, "model", recipe_by_id(catalogue, "ollama"));
  const auto events = shared_proxy->events();
  ASSERT_FALSE(events.empty());
  const auto& done = std::get<CommandDone>(events.back());
  ASSERT_FALSE(done.result);
  EXPECT_EQ(done.result.error(), choose_runtime(*world.runner).error());
  EXPECT_EQ(done.recipe->id, "ollama");
}

// ---- shelves ----

const std::string shelf_a = "https://example.org/a/shelf.yaml";

std::string shelf_text(std::string_view name, std::string_view file) {
  return "shelf: 1\nname: " + std::string(name) + "\nrecipes:\n  - " + std::string(file) + "\n";
}

void serve(ScriptedRunner& runner, const std::string& address, const std::string& text) {
  runner.on("curl", curl_arguments(address, fetch_size_limit, fetch_curl_seconds), ScriptedRunner::ok(text));
}

TEST_F(Workers, ShelfAddRemembersTheShelfOnceAndGathersAgain) {
  write_shelf_addresses(folder.path(), std::vector<std::string>{}).value();
  serve(*world.runner, shelf_a, shelf_text("Course", "notes.yaml"));
  serve(*world.runner, "https://example.org/a/notes.yaml", sample_recipe("notes", "Notes", 34567));
  const auto catalogue = catalogue_of(folder.path());

  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"add", shelf_a}, 2);
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or(""), shelf_a + "\n");
  // The same address again: nothing is written, and the shelves are fetched anyway.
  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"add", shelf_a}, 3);
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or(""), shelf_a + "\n");

  const auto events = proxy.events();
  ASSERT_EQ(events.size(), 2u);
  for (const UserEvent& event : events) {
    const auto& read = std::get<ShelvesRead>(event);
    EXPECT_EQ(read.problem, std::nullopt);
    ASSERT_EQ(read.shelves.size(), 1u);
    EXPECT_EQ(read.shelves[0].name, "Course");
    ASSERT_EQ(read.shelves[0].offers.size(), 1u);
    EXPECT_EQ(read.shelves[0].offers[0].state, ShelfOffer::State::New);
  }
}

TEST_F(Workers, AnEleventhShelfIsRefusedAndTheListStaysAsItWas) {
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back("https://example.org/" + std::to_string(i) + "/shelf.yaml");
  write_shelf_addresses(folder.path(), ten).value();
  const std::string before = read_file(shelves_path(folder.path())).value();
  world.runner->on("curl", {}, ScriptedRunner::failed(22, "curl: (22) The requested URL returned error: 404\n"));
  serve(*world.runner, shelf_a, shelf_text("Course", "notes.yaml"));
  const auto catalogue = catalogue_of(folder.path());

  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"add", shelf_a}, 4);
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or(""), before);
  const auto read = std::get<ShelvesRead>(proxy.events().at(0));
  EXPECT_EQ(read.problem, "This Zelk remembers 10 shelves. Take one out first: zelk shelf forget <address>");
  ASSERT_EQ(read.shelves.size(), 10u);  // gathered again anyway
  EXPECT_EQ(read.shelves[3].address, ten[3]);
  EXPECT_TRUE(read.shelves[3].error);
}

TEST_F(Workers, AShelfThatCannotBeReadIsNotRemembered) {
  write_shelf_addresses(folder.path(), std::vector<std::string>{}).value();
  serve(*world.runner, shelf_a, "just: text\n");
  const auto catalogue = catalogue_of(folder.path());
  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"add", shelf_a}, 5);
  const auto read = std::get<ShelvesRead>(proxy.events().at(0));
  EXPECT_EQ(read.problem, parse_shelf("just: text\n", shelf_a).error());
  EXPECT_TRUE(read.shelves.empty());
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or("<none>"), "");
}

TEST_F(Workers, ShelfForgetTakesOutEveryCopyOfTheAddressAndSaysNothingOfAnUnknownOne) {
  write_shelf_addresses(folder.path(), std::vector<std::string>{shelf_a, std::string(default_shelf_address), shelf_a})
      .value();
  world.runner->on("curl", {}, ScriptedRunner::failed(6, "curl: (6) Could not resolve host\n"));
  const auto catalogue = catalogue_of(folder.path());
  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"forget", shelf_a}, 6);
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or(""), std::string(default_shelf_address) + "\n");
  run_shelf_work(proxy, *world.services(), *catalogue, ShelfWord{"forget", "https://example.org/other.yaml"}, 7);
  EXPECT_EQ(read_file(shelves_path(folder.path())).value_or(""), std::string(default_shelf_address) + "\n");
  for (const UserEvent& event : proxy.events()) {
    EXPECT_EQ(std::get<ShelvesRead>(event).problem, std::nullopt);
    EXPECT_EQ(std::get<ShelvesRead>(event).shelves.size(), 1u);
  }
}

// ---- updates ----

const std::string list_address = "https://example.org/releases/latest.txt";

std::string version_list(std::string_view version) {
  return "format 1\n" + std::string(update_platform_word) + " " + std::string(version) + " 7 " + std::string(64, 'a') +
         " zelk-setup.exe\n";
}

TEST_F(Workers, TheUpdateThreadCleansUpAfter5sLooksAfter25sMoreThenDailyAndEndsWithTheLoop) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", list_address);
  serve(*world.runner, list_address, version_list("9.1.0"));
  put_file(update_folder(folder.path()) / "old-setup.exe", "left over");
  std::vector<bool> folder_there;
  world.records->on_sleep = [&](std::chrono::nanoseconds) {
    folder_there.push_back(fs::exists(update_folder(folder.path())));
  };
  RecordingProxy two_sends(2);

  check_updates_periodically(two_sends, *world.services());

  EXPECT_EQ(world.sleeps(), (std::vector<std::chrono::nanoseconds>{5s, 25s, 86400s, 86400s}));
  EXPECT_EQ(folder_there, (std::vector<bool>{true, false, false, false}));
  EXPECT_EQ(two_sends.attempts(), 3u);  // the third send failed: the loop is gone
  const auto events = two_sends.events();
  ASSERT_EQ(events.size(), 2u);
  for (const UserEvent& event : events) {
    const auto& checked = std::get<UpdateChecked>(event);
    EXPECT_FALSE(checked.asked);
    ASSERT_TRUE(checked.outcome && *checked.outcome);
    EXPECT_EQ((*checked.outcome)->version, "9.1.0");
  }
}

TEST_F(Workers, ADailyLookThatStopsOnAnErrorIsShownAndTheLooksGoOn) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", list_address);
  serve(*world.runner, list_address, version_list("9.1.0"));
  world.runner->throws = "the list broke";
  world.records->on_sleep = [&](std::chrono::nanoseconds slept) {
    if (slept == 86400s) world.runner->throws.reset();
  };
  RecordingProxy two_sends(2);

  check_updates_periodically(two_sends, *world.services());

  const auto events = two_sends.events();
  ASSERT_EQ(events.size(), 2u);
  const auto& failed = std::get<UpdateChecked>(events[0]);
  EXPECT_TRUE(failed.asked);  // shown
  EXPECT_EQ(failed.outcome.error(), "The work stopped on an unexpected error: the list broke");
  const auto& next_day = std::get<UpdateChecked>(events[1]);
  EXPECT_FALSE(next_day.asked);
  ASSERT_TRUE(next_day.outcome && *next_day.outcome);
  EXPECT_EQ((*next_day.outcome)->version, "9.1.0");
}

TEST_F(Workers, AnAskedLookSaysNoNewerOrTheMessage) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", list_address);
  serve(*world.runner, list_address, version_list("0.1.0"));
  check_update_now(proxy, *world.services());
  world.runner->on("curl", {}, ScriptedRunner::failed(6, "curl: (6) Could not resolve host: example.org\n"));
  check_update_now(proxy, *world.services());

  const auto events = proxy.events();
  ASSERT_EQ(events.size(), 2u);
  const auto& none = std::get<UpdateChecked>(events[0]);
  EXPECT_TRUE(none.asked);
  EXPECT_EQ(none.outcome, (std::expected<std::optional<UpdateOffer>, std::string>(std::nullopt)));
  const auto& failed = std::get<UpdateChecked>(events[1]);
  EXPECT_TRUE(failed.asked);
  EXPECT_EQ(failed.outcome.error(),
            list_address + " could not be fetched.\n    It said: curl: (6) Could not resolve host: example.org");
}

TEST_F(Workers, AFailedDownloadComesBackAsItsMessageAndStartsNoInstaller) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", list_address);
  world.runner->on("curl", {}, ScriptedRunner::failed(22, "curl: (22) The requested URL returned error: 404\n"));
  install_update_in_window(proxy, *world.services(), UpdateOffer{"9.1.0", "zelk-setup.exe", std::string(64, 'a'), 7},
                           true);
  const auto installed = std::get<UpdateInstalled>(proxy.events().at(0));
  ASSERT_FALSE(installed.result);
  EXPECT_EQ(installed.result.error(),
            "https://example.org/downloads/zelk-setup.exe could not be fetched.\n    It said: "
            "curl: (22) The requested URL returned error: 404");
  EXPECT_TRUE(world.records->installers.empty());
}

// Answers curl's download by writing the bytes to the file named after --output.
class DownloadRunner final : public CommandRunner {
 public:
  explicit DownloadRunner(std::string bytes) : bytes_(std::move(bytes)) {}
  std::expected<RunOutput, RunError> run_captured(const std::string& program, const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds) const override {
    if (program != "curl") return std::unexpected(RunError::not_found());
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == "--output") put_file(path_from_utf8(args[i + 1]), bytes_);
    }
    return ScriptedRunner::ok();
  }
  std::expected<AttachedRun, RunError> run_attached(const std::string&, const std::vector<std::string>&,
                                                    const EnvPairs&, AttachMode) const override {
    return std::unexpected(RunError::not_found());
  }

 private:
  std::string bytes_;
};

TEST_F(Workers, AFetchedAndCheckedInstallerIsStartedToBringTheWindowBackWhenItWasOpen) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", list_address);
  const std::string installer = "MZ setup";
  auto services = std::make_shared<WorkerServices>(*world.services());
  services->runner = std::make_shared<DownloadRunner>(installer);
  const UpdateOffer offer{"9.1.0", "zelk-setup.exe", sha256_hex(installer), installer.size()};

  install_update_in_window(proxy, *services, offer, true);
  install_update_in_window(proxy, *services, offer, false);

  const auto events = proxy.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(std::get<UpdateInstalled>(events[0]).result);
  EXPECT_TRUE(std::get<UpdateInstalled>(events[1]).result);
  const std::string path = path_to_utf8(update_folder(folder.path()) / "zelk-setup.exe");
  EXPECT_EQ(world.records->installers, (std::vector<std::string>{path + " tray=1", path + " tray=0"}));
}

}  // namespace
}  // namespace zelk
