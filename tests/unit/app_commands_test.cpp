#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include "apps_run.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "probes_in_flight.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

const char* const no_runtime =
    "No usable container runtime was found.\n"
    "  Podman is not installed.\n"
    "  Docker is not installed.\n"
    "Set it up with: zelk setup";

struct AppCommands : ::testing::Test {
  TestFolder folder;
  fs::path home = folder.path() / "data";
  std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text), read_test_recipe(duo_recipe_text),
                              read_test_recipe(plain_recipe_text("ollama", "Ollama"))};
  TestContext fake{home, recipes};

  void SetUp() override {
    fs::create_directories(home);
    fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
    fake.runner.on("podman", {"stop"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"rm"}, ScriptedRunner::ok());
    fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  }

  void containers(std::string list) { fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(std::move(list))); }

  void no_runtimes() {
    for (const char* rt : {"podman", "docker"}) fake.runner.on(rt, {"ps"}, std::unexpected(RunError::not_found()));
  }

  CommandResult run(std::vector<std::string> args) {
    CommandContext ctx = fake.context();
    return run_command(ctx, args);
  }

  void mark(std::string_view id) {
    fs::create_directories(app_folder(home, id));
    ASSERT_TRUE(write_file_atomically(running_marker_path(home, id), ""));
  }
  bool marked(std::string_view id) { return fs::exists(running_marker_path(home, id)); }

  std::vector<std::string> runs_without_lists() {
    std::vector<std::string> lines;
    for (const std::string& line : fake.runner.run_lines()) {
      if (!line.starts_with("podman ps") && !line.starts_with("docker ps")) lines.push_back(line);
    }
    return lines;
  }
};

// ---- stop ----------------------------------------------------------------------------------

TEST_F(AppCommands, StopOfAnAppNeverInstalledFailsAndStillDropsItsMarker) {
  mark("solo");
  auto result = run({"stop", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Solo is not installed.");
  EXPECT_FALSE(marked("solo"));
}

TEST_F(AppCommands, StopOfAStoppedAppSaysSo) {
  mark("duo");
  containers("torvo-duo\texited\t\ntorvo-duo-db\tcreated\t\ntorvo-duo-tail\tstopped\t\n");
  ASSERT_TRUE(run({"stop", "duo"}));
  EXPECT_EQ(fake.output.text, "Duo is already stopped.\n");
  EXPECT_FALSE(marked("duo"));
  EXPECT_TRUE(runs_without_lists().empty());
}

TEST_F(AppCommands, StopStopsEachRunningContainerInOrder) {
  containers("torvo-duo-tail\trunning\t\ntorvo-duo\tUp 2 minutes ago\t\ntorvo-duo-db\tpaused\t\n");
  ASSERT_TRUE(run({"stop", "duo"}));
  EXPECT_EQ(fake.output.text, "Duo is stopped.\n");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"podman stop torvo-duo", "podman stop torvo-duo-db",
                                                            "podman stop torvo-duo-tail"}));
  for (const RecordedRun& r : fake.runner.runs()) {
    if (r.args.front() == "stop") {
      EXPECT_EQ(r.limit, std::chrono::seconds(120));
    }
  }
}

TEST_F(AppCommands, AFailedStopEndsTheCommand) {
  containers("torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\n");
  fake.runner.on("podman", {"stop", "torvo-duo"}, ScriptedRunner::failed(125, "Error: timeout\n"));
  auto result = run({"stop", "duo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "\"podman stop torvo-duo\" failed.\n    It said: Error: timeout");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"podman stop torvo-duo"}));
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(AppCommands, StopWithoutARuntimeFailsWithItsMessage) {
  no_runtimes();
  auto result = run({"stop", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), no_runtime);
}

TEST_F(AppCommands, StopWithoutAnAppShowsItsUsage) {
  auto result = run({"stop"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Usage: zelk stop <app>, or: zelk stop --all");
}

TEST_F(AppCommands, StopAllWithoutARuntimeDropsEveryMarkerAndSucceeds) {
  mark("solo");
  mark("duo");
  no_runtimes();
  ASSERT_TRUE(run({"stop", "--all"}));
  EXPECT_EQ(fake.output.text, "No container runtime answers, so no app is running.\n");
  EXPECT_FALSE(marked("solo"));
  EXPECT_FALSE(marked("duo"));
}

TEST_F(AppCommands, StopAllWhenNothingRuns) {
  containers("torvo-solo\texited\t\n");
  ASSERT_TRUE(run({"stop", "--all"}));
  EXPECT_EQ(fake.output.text, "No app was running.\n");
}

TEST_F(AppCommands, StopAllNamesTheStoppedAppsInCatalogueOrder) {
  containers("torvo-duo-db\trunning\t\ntorvo-solo\trunning\t\ntorvo-ollama\texited\t\n");
  ASSERT_TRUE(run({"stop", "--all"}));
  EXPECT_EQ(fake.output.text, "Stopped: Solo, Duo. Their data stays.\n");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"podman stop torvo-solo", "podman stop torvo-duo-db"}));
  containers("torvo-duo-db\texited\t\ntorvo-solo\trunning\t\n");
  fake.output.text.clear();
  ASSERT_TRUE(run({"stop", "--all"}));
  EXPECT_EQ(fake.output.text, "Stopped: Solo. Its data stays.\n");
}

TEST_F(AppCommands, StopAllEndsAtTheFirstFailureWithoutASummary) {
  containers("torvo-duo\trunning\t\ntorvo-solo\trunning\t\ntorvo-ollama\trunning\t\n");
  fake.runner.on("podman", {"stop", "torvo-duo"}, ScriptedRunner::failed(1));
  auto result = run({"stop", "--all"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "\"podman stop torvo-duo\" failed.");
  EXPECT_EQ(fake.output.text, "");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"podman stop torvo-solo", "podman stop torvo-duo"}));
}

// ---- remove --------------------------------------------------------------------------------

TEST_F(AppCommands, RemoveOfAnAppNeverInstalledKeepsItsMarker) {
  mark("solo");
  auto result = run({"remove", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Solo is not installed.");
  EXPECT_TRUE(marked("solo"));
}

TEST_F(AppCommands, RemoveTakesEveryListedContainerAndKeepsTheData) {
  mark("duo");
  containers("torvo-duo\trunning\t\ntorvo-duo-tail\texited\t\n");
  ASSERT_TRUE(run({"remove", "duo"}));
  EXPECT_EQ(fake.output.text, "Duo is removed. Its data volumes and settings are kept.\n");
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{"podman rm -f -v torvo-duo", "podman rm -f -v torvo-duo-tail"}));
  EXPECT_FALSE(marked("duo"));
}

struct RemoveEverything : AppCommands {
  void SetUp() override {
    AppCommands::SetUp();
    containers("torvo-solo\trunning\t\ntorvo-duo-db\texited\t\nother\trunning\t\n");
    fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
    fake.runner.on("podman", {"volume", "exists", "torvo-solo-data"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"volume", "rm"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"rmi"}, ScriptedRunner::failed(2, "Error: image is in use"));
    fake.runner.on("podman", {"network", "rm"}, ScriptedRunner::failed(1, "Error: no network"));
  }
};

TEST_F(RemoveEverything, WithoutYesOnlyReports) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"remove", "--everything"},
                                               std::vector<std::string>{"remove", "--everything", "yes"}}) {
    fake.output.text.clear();
    ASSERT_TRUE(run(args));
    EXPECT_EQ(fake.output.text,
              "This removes for good 2 containers and 1 data volume with everything saved in the apps Solo and "
              "Duo, and the apps' images and networks.\n"
              "Back up what you want to keep first: zelk backup <app>\n"
              "To go ahead: zelk remove --everything --yes\n");
  }
  for (const std::string& line : runs_without_lists()) EXPECT_TRUE(line.starts_with("podman volume exists")) << line;
  EXPECT_TRUE(fs::exists(home));
}

TEST_F(RemoveEverything, TheReportNamesTheDefaultFolder) {
  fake.home = folder.path() / ".torvo";
  fake.home_is_default = true;
  ASSERT_TRUE(run({"remove", "--everything"}));
  EXPECT_EQ(fake.output.text,
            "This removes for good 2 containers and 1 data volume with everything saved in the apps Solo and "
            "Duo, and the apps' images and networks, and the folder " + path_to_utf8(fake.home) + ".\n"
            "Back up what you want to keep first: zelk backup <app>\n"
            "To go ahead: zelk remove --everything --yes\n");
}

TEST_F(RemoveEverything, WithYesRemovesInOrderAndLeavesAFolderNamedByTheUser) {
  // Named by ZELK_HOME, the folder is the user's even when it is called as the default one.
  home = fake.home = folder.path() / ".torvo";
  mark("solo");
  mark("duo");
  ASSERT_TRUE(run({"remove", "--everything", "--yes"}));
  EXPECT_FALSE(marked("solo"));
  EXPECT_FALSE(marked("duo"));
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{
                "podman volume exists torvo-solo-data",
                "podman rm -f -v torvo-solo",
                "podman rm -f -v torvo-duo-db",
                "podman volume rm -f torvo-solo-data",
                "podman rmi localhost/zelk/solo:1.0",
                "podman rmi localhost/zelk/duo:1.0",
                "podman rmi localhost/zelk/db:1.0",
                "podman rmi localhost/zelk/tail:1.0",
                "podman network rm torvo-duo_default",
                "podman rmi localhost/zelk/ollama:1.0",
            }));
  EXPECT_EQ(fake.output.text,
            "The data folder " + path_to_utf8(home) + " was named with ZELK_HOME, so it is left for you to delete.\n"
            "Every app and its data are removed. Uninstall the Zelk, and Podman if nothing else needs it, the way "
            "you installed them.\n");
  EXPECT_TRUE(fs::exists(home));
}

TEST_F(RemoveEverything, WithYesDeletesTheDefaultFolderAndPointsToPodmansMachine) {
  fake.home = folder.path() / ".torvo";
  fake.home_is_default = true;
  fake.platform = "windows";
  fs::create_directories(fake.home / "apps" / "solo");
  ASSERT_TRUE(write_file_atomically(fake.home / "apps" / "solo" / ".env", "SOLO_KEY=1\n"));
  ASSERT_TRUE(run({"remove", "--everything", "--yes"}));
  EXPECT_FALSE(fs::exists(fake.home));
  EXPECT_EQ(fake.output.text,
            "Every app and its data are removed. Podman's machine still takes disk space: \"podman machine rm\" "
            "gives it back. Then uninstall the Zelk and Podman in the list of installed apps.\n");
}

TEST_F(RemoveEverything, AFolderAlreadyGoneIsFine) {
  fake.home = folder.path() / ".torvo";
  fake.home_is_default = true;
  EXPECT_TRUE(run({"remove", "--everything", "--yes"}));
}

TEST_F(RemoveEverything, DockerIsAskedForVolumesWithInspect) {
  for (const char* rt : {"podman"}) fake.runner.on(rt, {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::ok("torvo-solo\texited\t\n"));
  fake.runner.on("docker", {"volume", "inspect"}, ScriptedRunner::failed(1, "Error: No such volume"));
  fake.runner.on("docker", {"volume", "inspect", "torvo-solo-data"}, ScriptedRunner::ok("[{}]"));
  ASSERT_TRUE(run({"remove", "--everything"}));
  EXPECT_EQ(fake.output.text,
            "This removes for good 1 container and 1 data volume with everything saved in the app Solo, and the "
            "apps' images and networks.\n"
            "Backups need Podman, and the apps run with Docker here: copy what you want to keep out of the apps "
            "first.\n"
            "To go ahead: zelk remove --everything --yes\n");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"docker volume inspect torvo-solo-data"}));
  for (const char* word : {"rm", "volume", "rmi", "network"}) fake.runner.on("docker", {word}, ScriptedRunner::ok());
  fake.output.text.clear();
  ASSERT_TRUE(run({"remove", "--everything", "--yes"}));
  EXPECT_TRUE(fake.output.text.ends_with("Every app and its data are removed. Uninstall the Zelk, and Docker if "
                                         "nothing else needs it, the way you installed them.\n"))
      << fake.output.text;
}

TEST_F(RemoveEverything, AFailedContainerRemovalEndsTheCommand) {
  fake.runner.on("podman", {"rm", "-f", "-v", "torvo-duo-db"}, ScriptedRunner::failed(125, "Error: busy"));
  auto result = run({"remove", "--everything", "--yes"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "\"podman rm -f -v torvo-duo-db\" failed.\n    It said: Error: busy");
  EXPECT_EQ(runs_without_lists().back(), "podman rm -f -v torvo-duo-db");
}

// ---- logs ----------------------------------------------------------------------------------

TEST_F(AppCommands, LogsOfAnUnknownHelperListTheHelpers) {
  auto result = run({"logs", "duo", "cache"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Duo has no helper \"cache\". It has: db, tail.");
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(AppCommands, LogsOfAHelperOfAnAppWithoutHelpers) {
  auto result = run({"logs", "solo", "db"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Solo has no helpers. Its logs: zelk logs solo");
}

TEST_F(AppCommands, LogsOfAnAppNeverInstalled) {
  auto result = run({"logs", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Solo is not installed.");
  EXPECT_TRUE(runs_without_lists().empty());
}

TEST_F(AppCommands, LogsOfAnAppWithHelpersPointToThem) {
  containers("torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\n");
  fake.runner.on("podman", {"logs"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"logs", "duo"}));
  EXPECT_EQ(fake.output.text,
            "\nThese are the logs of Duo itself. Its helpers:\n  zelk logs duo db\n  zelk logs duo tail\n");
  const RecordedRun logs = fake.runner.runs().back();
  EXPECT_TRUE(logs.attached);
  EXPECT_EQ(logs.mode, AttachMode::Output);
  EXPECT_EQ(logs.args, (std::vector<std::string>{"logs", "--tail", "200", "torvo-duo"}));
}

TEST_F(AppCommands, LogsOfAHelper) {
  containers("torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\n");
  fake.runner.on("podman", {"logs"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"logs", "duo", "db"}));
  EXPECT_EQ(fake.output.text, "");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"attached: podman logs --tail 200 torvo-duo-db"}));
}

TEST_F(AppCommands, LogsThatCannotBeRead) {
  containers("torvo-solo\trunning\t\n");
  for (auto reply : {ScriptedRunner::Reply(ScriptedRunner::failed(1)),
                     ScriptedRunner::Reply(RunOutput{{}, {}, std::nullopt}),
                     ScriptedRunner::Reply(std::unexpected(RunError::os("broken")))}) {
    fake.runner.on("podman", {"logs"}, reply);
    auto result = run({"logs", "solo"});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "The logs of Solo could not be read.");
  }
}

// ---- model ---------------------------------------------------------------------------------

TEST_F(AppCommands, ModelNamesOutsideTheRuleFailBeforeAnyRuntime) {
  for (const std::string& name : {std::string(101, 'a'), std::string("llama 3"), std::string(""),
                                 std::string("llama;rm"), std::string("--insecure")}) {
    auto result = run({"model", name});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "\"" + name + "\" is not the name of a model. Names look like llama3.2:3b.");
  }
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(AppCommands, ModelWithoutOllamaFailsWithTheUnknownApp) {
  recipes.pop_back();
  fake.recipes = recipes;
  auto result = run({"model", "qwen3:0.6b"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Unknown app \"ollama\". Choose: solo, duo.");
}

TEST_F(AppCommands, TheDefaultModelWarnsOfItsSize) {
  containers("torvo-ollama\trunning\t\n");
  fake.runner.on("podman", {"exec"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"model"}));
  EXPECT_EQ(fake.output.text,
            "Fetching the model llama3.2:3b into Ollama, about 2 GB the first time ...\n"
            "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat.\n");
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{"attached: podman exec torvo-ollama ollama pull llama3.2:3b"}));
  EXPECT_EQ(fake.runner.runs().back().mode, AttachMode::Output);
}

TEST_F(AppCommands, ANamedModelStartsOllamaFirstWhenItIsNotReady) {
  fake.runner.on("podman", {"network"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"run"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"exec"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"model", "qwen3:0.6b"}));
  EXPECT_EQ(fake.output.text,
            "Installing Ollama with Podman ...\n"
            "Waiting for Ollama to answer on port 40400 ...\n"
            "Ollama is ready: http://127.0.0.1:40400/\n"
            "Fetching the model qwen3:0.6b into Ollama ...\n"
            "The model qwen3:0.6b is ready. In Open WebUI, choose it at the top of a new chat.\n");
}

TEST_F(AppCommands, AFailedFetchSaysWhy) {
  containers("torvo-ollama\trunning\t\n");
  struct Case {
    ScriptedRunner::Reply reply;
    std::string message;
  };
  for (const Case& c : {Case{ScriptedRunner::failed(1),
                             "Ollama could not fetch qwen3:0.6b (exit code 1). Check the name and the connection. "
                             "See: zelk logs ollama"},
                        Case{RunOutput{{}, {}, std::nullopt}, "Fetching qwen3:0.6b was stopped."},
                        Case{std::unexpected(RunError::not_found()),
                             "Fetching qwen3:0.6b failed: the program was not found."}}) {
    fake.runner.on("podman", {"exec"}, c.reply);
    auto result = run({"model", "qwen3:0.6b"});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), c.message);
  }
}

// ---- resume --------------------------------------------------------------------------------

TEST_F(AppCommands, ResumeWithNothingMarkedAsksNoRuntime) {
  no_runtimes();
  ASSERT_TRUE(run({"resume"}));
  EXPECT_EQ(fake.output.text, "No app was left running, so there is nothing to bring back.\n");
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(AppCommands, ResumeStartsOnlyTheMarkedAppsThatAreNotReady) {
  mark("solo");
  mark("ollama");
  containers("torvo-solo\trunning\t\ntorvo-ollama\texited\t\n");
  fake.runner.on("podman", {"start"}, ScriptedRunner::ok());
  // Ollama's container is stopped but made from its current recipe: it is only started.
  const Recipe& ollama = recipes[2];
  fs::create_directories(app_folder(home, "ollama"));
  ASSERT_TRUE(write_settings(home, "ollama", "TORVO_PORT=40400\n"));
  const std::string hash = run_arguments(app_run_plan(ollama), ollama, 40400, "TORVO_PORT=40400\n")->recipe_hash;
  containers("torvo-solo\trunning\t\ntorvo-ollama\texited\ttorvo.recipe=" + hash + "\n");
  ASSERT_TRUE(run({"resume"}));
  EXPECT_EQ(fake.output.text,
            "Starting Ollama with Podman ...\n"
            "Waiting for Ollama to answer on port 40400 ...\n"
            "Ollama is ready: http://127.0.0.1:40400/\n");
  EXPECT_EQ(runs_without_lists(), (std::vector<std::string>{"podman start torvo-ollama"}));
}

TEST_F(AppCommands, ResumeReadsTheStatesOfTheMarkedAppsSideBySide) {
  mark("solo");
  mark("duo");
  mark("ollama");
  containers("torvo-solo\trunning\t\ntorvo-duo\trunning\t\ntorvo-duo-db\trunning\t\ntorvo-duo-tail\trunning\t\n"
             "torvo-ollama\trunning\t\n");
  ProbesInFlight late(3, [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); });
  fake.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };
  ASSERT_TRUE(run({"resume"}));
  EXPECT_EQ(fake.output.text, "Every app that was left running runs already, so there is nothing to bring back.\n");
  EXPECT_TRUE(runs_without_lists().empty());
  EXPECT_TRUE(late.met()) << "the marked apps were probed one after another";
}

// An app that a start before it brought up, as an app that one uses, is not started again.
TEST(Resume, LooksAgainAtAnAppAfterAStartBeforeIt) {
  TestFolder folder;
  const std::vector<Recipe> recipes{read_test_recipe(user_recipe_text("true")), read_test_recipe(solo_recipe_text)};
  const Recipe& user = recipes[0];
  const Recipe& solo = recipes[1];
  const std::string solo_settings = "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n";
  const std::string user_settings = "TORVO_PORT=40300\n";
  for (const auto& [recipe, settings] : {std::pair{&solo, solo_settings}, std::pair{&user, user_settings}}) {
    ASSERT_TRUE(write_settings(folder.path(), recipe->id, settings));
    ASSERT_TRUE(write_file_atomically(running_marker_path(folder.path(), recipe->id), ""));
  }
  const std::string solo_hash =
      as_started(run_arguments(app_run_plan(solo), solo, 40123, solo_settings).value(), folder.path()).recipe_hash;
  const std::string user_hash = run_arguments(app_run_plan(user), user, 40300, user_settings)->recipe_hash;
  TestContext fake(folder.path(), recipes);
  fake.runner.on("podman", {"ps"},
                 ScriptedRunner::ok("torvo-user\trunning\ttorvo.recipe=" + user_hash + "\ntorvo-solo\trunning\t"
                                    "torvo.recipe=" + solo_hash + "\n"));
  // User answers from its second probe on, once it is started; Solo from its third, once User has
  // started it.
  auto user_probes = std::make_shared<std::atomic<int>>(0);
  auto solo_probes = std::make_shared<std::atomic<int>>(0);
  fake.probe_answer = [=](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    const int made = ++*(port == 40300 ? user_probes : solo_probes);
    if (made >= (port == 40300 ? 2 : 3)) return 200;
    return std::nullopt;
  };
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"resume"}));
  EXPECT_EQ(fake.output.text,
            "User uses Solo. Starting Solo first ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n"
            "User uses the app \"ghost\", which is not on this Zelk. It starts without it.\n"
            "Waiting for User to answer on port 40300 ...\n"
            "User is ready: http://127.0.0.1:40300/\n");
}

// An app that a start before it installed, as an app that one uses, is found installed and ready:
// the containers are read again after each start.
TEST(Resume, ReadsTheContainersAgainAfterAStartThatInstalledAnAppFurtherOn) {
  TestFolder folder;
  const std::vector<Recipe> recipes{read_test_recipe(user_recipe_text("true")), read_test_recipe(solo_recipe_text)};
  for (const Recipe& recipe : recipes) {
    fs::create_directories(app_folder(folder.path(), recipe.id));
    ASSERT_TRUE(write_file_atomically(running_marker_path(folder.path(), recipe.id), ""));
  }
  TestContext fake(folder.path(), recipes);
  // Nothing is installed when the resume begins; after User's start both run.
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-user\trunning\t\ntorvo-solo\trunning\t\n"));
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(""));
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"network"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"run"}, ScriptedRunner::ok());
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  CommandContext ctx = fake.context();
  const CommandResult result = run_command(ctx, {"resume"});
  EXPECT_TRUE(result) << result.error();
  EXPECT_EQ(fake.output.text,
            "User uses Solo. Starting Solo first ...\n"
            "Installing Solo with Podman; it takes about 1.0 GB on disk ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n"
            "User uses the app \"ghost\", which is not on this Zelk. It starts without it.\n"
            "Installing User with Podman ...\n"
            "Waiting for User to answer on port 40300 ...\n"
            "User is ready: http://127.0.0.1:40300/\n");
  std::size_t installs = 0;
  for (const std::string& line : fake.runner.run_lines()) {
    if (line.starts_with("attached: podman run")) ++installs;
  }
  EXPECT_EQ(installs, 2u);
}

TEST_F(AppCommands, ResumeGoesOnAfterAFailureAndNamesIt) {
  mark("solo");
  mark("ollama");
  fake.probe_answer = [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    return port == 40400 ? std::optional<std::uint16_t>(200) : std::nullopt;
  };
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"network"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"run"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"run", "-d", "--name", "torvo-solo"}, ScriptedRunner::failed(125));
  auto result = run({"resume"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Not brought back: Solo.");
  EXPECT_EQ(fake.output.text,
            "Installing Solo with Podman; it takes about 1.0 GB on disk ...\n"
            "The image did not arrive from localhost. Trying mirror.example/zelk/solo:1.0 ...\n"
            "Solo could not be started: \"podman run\" failed (exit code 125); see the output above.\n"
            "Installing Ollama with Podman ...\n"
            "Waiting for Ollama to answer on port 40400 ...\n"
            "Ollama is ready: http://127.0.0.1:40400/\n");
  EXPECT_TRUE(marked("solo"));
}

TEST_F(AppCommands, ResumeWithoutARuntimeFails) {
  mark("solo");
  no_runtimes();
  auto result = run({"resume"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), no_runtime);
}

// ---- open and start ------------------------------------------------------------------------

TEST_F(AppCommands, OpenOfAReadyAppOnlyOpensIt) {
  fs::create_directories(app_folder(home, "solo"));
  ASSERT_TRUE(write_settings(home, "solo", "TORVO_PORT=40777\n"));
  containers("torvo-solo\trunning\t\n");
  ASSERT_TRUE(run({"open", "solo"}));
  EXPECT_EQ(fake.output.text, "Opened http://127.0.0.1:40777/app\n");
  EXPECT_EQ(fake.opened, (std::vector<std::string>{"http://127.0.0.1:40777/app"}));
  EXPECT_TRUE(runs_without_lists().empty());
}

TEST_F(AppCommands, OpenStartsAnAppThatIsNotReady) {
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"run"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"open", "solo"}));
  EXPECT_EQ(fake.output.text,
            "Installing Solo with Podman; it takes about 1.0 GB on disk ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n"
            "Opened http://127.0.0.1:40123/app\n");
  EXPECT_EQ(fake.opened, (std::vector<std::string>{"http://127.0.0.1:40123/app"}));
}

TEST_F(AppCommands, OpenSaysWhenTheBrowserFails) {
  containers("torvo-solo\trunning\t\n");
  fake.browser_error = "No such file or directory (os error 2)";
  auto result = run({"open", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "http://127.0.0.1:40123/app could not be opened in the browser: No such file or directory (os error 2). "
            "Open that address in your browser yourself.");
}

TEST_F(AppCommands, StartOfAReadyAppStillWaitsAndSaysReady) {
  fake.runner.on("podman", {"start"}, ScriptedRunner::ok());
  fs::create_directories(app_folder(home, "ollama"));
  ASSERT_TRUE(write_settings(home, "ollama", "TORVO_PORT=40400\n"));
  const Recipe& ollama = recipes[2];
  const std::string hash = run_arguments(app_run_plan(ollama), ollama, 40400, "TORVO_PORT=40400\n")->recipe_hash;
  containers("torvo-ollama\trunning\ttorvo.app:ollama torvo.recipe:" + hash + "\n");
  for (const char* word : {"start", "install"}) {
    fake.output.text.clear();
    ASSERT_TRUE(run({word, "ollama"}));
    EXPECT_EQ(fake.output.text,
              "Waiting for Ollama to answer on port 40400 ...\n"
              "Ollama is ready: http://127.0.0.1:40400/\n");
  }
  EXPECT_TRUE(runs_without_lists().empty());
}

TEST_F(AppCommands, StartWithoutARuntimeFails) {
  no_runtimes();
  auto result = run({"install", "solo"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), no_runtime);
  EXPECT_FALSE(fs::exists(settings_path(home, "solo")));
}

}  // namespace
}  // namespace zelk
