#include "zelk/backup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "apps_run.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"
#include "test_tar.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// An app whose data lies in two volumes: its own, and that of a helper that starts before it.
const char* const keep_recipe_text = R"(services:
  keep:
    image: localhost/zelk/keep:1.0
    environment:
      KEY: ${KEEP_KEY}
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    volumes:
      - files:/files
    depends_on:
      - db
  db:
    image: localhost/zelk/keepdb:1.0
    volumes:
      - db:/var/db
      - files:/shared
volumes:
  files:
    name: torvo-keep-files
  db:
    name: torvo-keep-db
x-zelk:
  format: 2
  id: keep
  name: Keep
  category: Tests
  summary: Two volumes
  port: 40500
  ready: /
  secrets:
    KEEP_KEY: 16
)";

const char* const no_runtime =
    "No usable container runtime was found.\n"
    "  Podman is not installed.\n"
    "  Docker is not installed.\n"
    "Set it up with: zelk setup";

const char* const docker_refused = "Backups need Podman. Docker has no command to copy an app's data volumes.";

const std::string keep_settings = "# Settings of Keep.\nTORVO_PORT=40555\nKEEP_KEY=00112233445566778899aabbccddeeff\n";

// 2024-03-05 14:07:59 UTC
const system_clock::time_point march_fifth = sys_days{2024y / March / 5} + 14h + 7min + 59s;

std::string text_of(const fs::path& path) { return read_file(path).value_or("<none>"); }

std::vector<std::string> entry_names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(path_to_utf8(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

// ---- the folder name and the base folder ----------------------------------------------

struct StampCase {
  system_clock::time_point time;
  const char* name;
};

TEST(BackupFolderName, IsTheIdAndTheMinuteInUtc) {
  const StampCase cases[] = {
      {march_fifth, "keep-2024-03-05-1407"},
      {sys_days{2024y / March / 5} + 14h + 8min, "keep-2024-03-05-1408"},
      {sys_days{1999y / December / 31} + 23h + 59min + 59s + 999ms, "keep-1999-12-31-2359"},
      {sys_days{2100y / January / 1}, "keep-2100-01-01-0000"},
      {sys_days{1970y / January / 1} + 9min, "keep-1970-01-01-0009"},
      {system_clock::time_point{}, "keep-1970-01-01-0000"},
      {sys_days{1969y / December / 31} + 23h + 59min, "keep-1970-01-01-0000"},
      {sys_days{1900y / June / 15} + 12h, "keep-1970-01-01-0000"},
  };
  for (const StampCase& c : cases) EXPECT_EQ(backup_folder_name("keep", c.time), c.name);
}

TEST(DefaultBackupBase, LiesBesideTheDataFolder) {
  EXPECT_EQ(default_backup_base(path_from_utf8("/home/me/.torvo")),
            std::optional(path_from_utf8("/home/me/Valdroven AI Zelk backups")));
  EXPECT_EQ(default_backup_base(path_from_utf8("/home/me/.torvo/")),
            std::optional(path_from_utf8("/home/me/Valdroven AI Zelk backups")));
  EXPECT_EQ(default_backup_base(path_from_utf8("/data")), std::optional(path_from_utf8("/Valdroven AI Zelk backups")));
  EXPECT_EQ(default_backup_base(path_from_utf8("data")), std::optional(path_from_utf8("Valdroven AI Zelk backups")));
  EXPECT_EQ(default_backup_base(path_from_utf8("/")), std::nullopt);
}

// ---- the steps the commands share ------------------------------------------------------

TEST(AppDataVolumes, NamesEachVolumeOnceInRecipeOrder) {
  EXPECT_EQ(app_data_volumes(read_test_recipe(keep_recipe_text)),
            (std::vector<std::string>{"torvo-keep-files", "torvo-keep-db"}));
  EXPECT_EQ(app_data_volumes(read_test_recipe(duo_recipe_text)), std::vector<std::string>{});
}

TEST(ExistingVolumes, AsksOnlyAsFarAsItIsStepped) {
  ScriptedRunner runner;
  runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
  runner.on("podman", {"volume", "exists", "b"}, ScriptedRunner::ok());
  runner.on("podman", {"volume", "exists", "d"}, std::unexpected(RunError::timed_out()));
  runner.on("podman", {"volume", "exists", "e"}, ScriptedRunner::ok());
  const std::vector<std::string> names{"a", "b", "c", "d", "e"};

  ExistingVolumes step = existing_volumes(runner, "podman", names);
  EXPECT_EQ(step.next(), std::optional<std::string>("b"));
  EXPECT_EQ(runner.run_lines(), (std::vector<std::string>{"podman volume exists a", "podman volume exists b"}));
  EXPECT_EQ(step.rest(), std::vector<std::string>{"e"});
  EXPECT_EQ(step.next(), std::nullopt);
  EXPECT_EQ(runner.runs().size(), 5u);
  for (const RecordedRun& run : runner.runs()) {
    EXPECT_FALSE(run.attached);
    EXPECT_EQ(run.limit, seconds(120));
  }
}

TEST(MissingBackupFiles, NamesEachTarWithNothingAtItsPath) {
  TestFolder folder;
  ASSERT_TRUE(write_file_atomically(folder.path() / "a.tar", "x"));
  fs::create_directories(folder.path() / "c.tar");
  const std::vector<std::string> volumes{"a", "b", "c", "d"};
  MissingBackupFiles step = missing_backup_files(folder.path(), volumes);
  EXPECT_EQ(step.next(), std::optional<std::string>("b.tar"));
  EXPECT_EQ(step.next(), std::optional<std::string>("d.tar"));
  EXPECT_EQ(step.next(), std::nullopt);
}

TEST(RequirePodmanForBackup, TakesPodmanAndRefusesTheOthers) {
  ScriptedRunner podman;
  podman.on("podman", {"ps"}, ScriptedRunner::ok("torvo-keep\trunning\t\n"));
  auto chosen = require_podman_for_backup(podman);
  ASSERT_TRUE(chosen) << chosen.error();
  EXPECT_EQ(chosen->runtime.command, "podman");
  EXPECT_TRUE(chosen->containers.contains("torvo-keep"));

  ScriptedRunner docker;
  docker.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  docker.on("docker", {"ps"}, ScriptedRunner::ok(""));
  EXPECT_EQ(require_podman_for_backup(docker), std::unexpected(std::string(docker_refused)));

  ScriptedRunner none;
  none.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  none.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  EXPECT_EQ(require_podman_for_backup(none), std::unexpected(std::string(no_runtime)));
}

// ---- the commands -------------------------------------------------------------------------

struct BackupCommands : ::testing::Test {
  TestFolder folder;
  fs::path home = folder.path() / "data";
  fs::path base = folder.path() / "Valdroven AI Zelk backups";
  fs::path stamped = base / "keep-2024-03-05-1407";
  fs::path working = base / ".keep-2024-03-05-1407.incomplete";  // where the copies go until they are whole
  std::vector<Recipe> recipes{read_test_recipe(keep_recipe_text), read_test_recipe(solo_recipe_text)};
  TestContext fake{home, recipes};

  const Recipe& keep() const { return recipes[0]; }

  void SetUp() override {
    fs::create_directories(home);
    fake.time = march_fifth;
    fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
    fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"volume", "export"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"volume", "create"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"volume", "import"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"stop"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"start"}, ScriptedRunner::ok());
    fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  }

  CommandResult run(std::vector<std::string> args) {
    CommandContext ctx = fake.context();
    return run_command(ctx, args);
  }

  void settings(std::string_view text) { ASSERT_TRUE(write_settings(home, "keep", text)); }

  /// The list line of each of Keep's containers in the state, labelled with the hash the
  /// settings on disk give, so that a start finds them current.
  std::string keep_list(std::string_view state) {
    const std::string text = read_settings(home, "keep").value();
    const std::uint16_t port = settings_port(text).value();
    const std::string own =
        as_started(run_arguments(app_run_plan(keep()), keep(), port, text).value(), home).recipe_hash;
    const std::string db =
        as_started(helper_run_arguments(keep(), port, text, keep().helpers.at(0)).value(), home).recipe_hash;
    return "torvo-keep\t" + std::string(state) + "\ttorvo.recipe=" + own + "\ntorvo-keep-db\t" + std::string(state) +
           "\ttorvo.recipe=" + db + "\n";
  }

  std::string tar(const fs::path& folder_path, std::string_view volume) {
    return path_to_utf8(folder_path / path_from_utf8(std::string(volume) + ".tar"));
  }

  std::vector<std::string> runs_without_lists() {
    std::vector<std::string> lines;
    for (const std::string& line : fake.runner.run_lines()) {
      if (!line.starts_with("podman ps") && !line.starts_with("docker ps")) lines.push_back(line);
    }
    return lines;
  }

  std::size_t list_calls() { return fake.runner.run_lines().size() - runs_without_lists().size(); }
};

// ---- backup ------------------------------------------------------------------------------

TEST_F(BackupCommands, BackupOfAStoppedAppCopiesWithoutStoppingOrStarting) {
  settings(keep_settings);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));

  auto result = run({"backup", "keep"});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(fake.output.text, "Copying torvo-keep-files ...\n"
                              "Copying torvo-keep-db ...\n"
                              "Keep is backed up in " + path_to_utf8(stamped) +
                                  ". Keep the whole folder: it holds the app's data and its passwords.\n");
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{
                "podman volume exists torvo-keep-files", "podman volume exists torvo-keep-db",
                "attached: podman volume export torvo-keep-files -o " + tar(working, "torvo-keep-files"),
                "attached: podman volume export torvo-keep-db -o " + tar(working, "torvo-keep-db")}));
  EXPECT_EQ(list_calls(), 1u);
  EXPECT_EQ(entry_names(base), std::vector<std::string>{"keep-2024-03-05-1407"});
  for (const RecordedRun& r : fake.runner.runs()) {
    if (r.attached) {
      EXPECT_EQ(r.mode, AttachMode::ErrorsOnly);
      EXPECT_TRUE(r.environment.empty());
    }
  }
  EXPECT_EQ(text_of(stamped / "settings.env"), keep_settings);
  EXPECT_TRUE(fake.probes.empty());
}

TEST_F(BackupCommands, BackupOfARunningAppStopsItForTheCopyAndStartsItAgain) {
  settings(keep_settings);
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));

  auto result = run({"backup", "keep"});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(fake.output.text, "Stopping Keep for the copy ...\n"
                              "Copying torvo-keep-files ...\n"
                              "Copying torvo-keep-db ...\n"
                              "Starting Keep's helper \"db\" with Podman ...\n"
                              "Starting Keep with Podman ...\n"
                              "Waiting for Keep to answer on port 40555 ...\n"
                              "Keep is ready: http://127.0.0.1:40555/\n"
                              "Keep is backed up in " + path_to_utf8(stamped) +
                                  ". Keep the whole folder: it holds the app's data and its passwords.\n");
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{
                "podman volume exists torvo-keep-files", "podman volume exists torvo-keep-db", "podman stop torvo-keep",
                "podman stop torvo-keep-db",
                "attached: podman volume export torvo-keep-files -o " + tar(working, "torvo-keep-files"),
                "attached: podman volume export torvo-keep-db -o " + tar(working, "torvo-keep-db"),
                "podman start torvo-keep-db", "podman start torvo-keep"}));
  EXPECT_EQ(list_calls(), 2u);  // the choice, and the choice again before the start
  EXPECT_TRUE(fs::exists(running_marker_path(home, "keep")));
  EXPECT_EQ(text_of(settings_path(home, "keep")), keep_settings);  // the start changed nothing
}

TEST_F(BackupCommands, OnlyRunningContainersAreStopped) {
  settings(keep_settings);
  const std::string list = keep_list("running");
  const std::string helper_exited = list.substr(0, list.find('\n') + 1) + "torvo-keep-db\texited\t\n";
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(helper_exited));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));

  ASSERT_TRUE(run({"backup", "keep"}));
  std::vector<std::string> stops;
  for (const std::string& line : runs_without_lists()) {
    if (line.starts_with("podman stop")) stops.push_back(line);
  }
  EXPECT_EQ(stops, std::vector<std::string>{"podman stop torvo-keep"});
  EXPECT_TRUE(fake.output.text.starts_with("Stopping Keep for the copy ...\n")) << fake.output.text;
}

TEST_F(BackupCommands, TwoBackupsInOneMinuteEachGetAFolder) {
  settings(keep_settings);
  ASSERT_TRUE(run({"backup", "keep"}));
  settings("TORVO_PORT=40556\n");
  fake.time = march_fifth - 50s;  // 14:07:09, the same minute
  fake.output.text.clear();

  auto again = run({"backup", "keep"});
  ASSERT_TRUE(again) << again.error();
  const fs::path second = base / "keep-2024-03-05-1407-2";
  EXPECT_EQ(fake.output.text, "Copying torvo-keep-files ...\n"
                              "Copying torvo-keep-db ...\n"
                              "Keep is backed up in " + path_to_utf8(second) +
                                  ". Keep the whole folder: it holds the app's data and its passwords.\n");
  EXPECT_EQ(text_of(stamped / "settings.env"), keep_settings);
  EXPECT_EQ(text_of(second / "settings.env"), "TORVO_PORT=40556\n");
  EXPECT_EQ(entry_names(base), (std::vector<std::string>{"keep-2024-03-05-1407", "keep-2024-03-05-1407-2"}));
}

TEST_F(BackupCommands, AFullDiskSaysSoAndLeavesNothing) {
  settings(keep_settings);
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));
  fake.runner.keeps_output = true;  // as in the window program, where the runtime's words are kept
  fake.runner.on("podman", {"volume", "export", "torvo-keep-db"},
                 ScriptedRunner::failed(125, "Error: write " + tar(working, "torvo-keep-db") +
                                                 ": no space left on device\n"));

  auto result = run({"backup", "keep"});
  EXPECT_EQ(result, std::unexpected("The disk is full: there is no room in " + path_to_utf8(base) +
                                    " for the backup of Keep, so nothing was kept. Make room there, or name another "
                                    "folder: zelk backup keep <folder>"));
  EXPECT_TRUE(entry_names(base).empty());
  EXPECT_EQ(runs_without_lists().back(), "podman start torvo-keep");  // the app runs again
}

TEST_F(BackupCommands, ACtrlCDuringTheCopyKeepsNothingAndSaysHowTheAppIsLeft) {
  struct StopCase {
    const char* state;
    std::vector<std::string> runs;
    const char* output;
    const char* message;
  };
  const std::string first_copy =
      "attached: podman volume export torvo-keep-files -o " + tar(working, "torvo-keep-files");
  const std::vector<StopCase> cases{
      {"exited", {first_copy}, "Copying torvo-keep-files ...\n",
       "The backup was stopped; nothing was kept. Keep is left stopped, as it was."},
      {"running",
       {"podman stop torvo-keep", "podman stop torvo-keep-db", first_copy, "podman start torvo-keep-db",
        "podman start torvo-keep"},
       "Stopping Keep for the copy ...\n"
       "Copying torvo-keep-files ...\n"
       "Starting Keep's helper \"db\" with Podman ...\n"
       "Starting Keep with Podman ...\n"
       "Waiting for Keep to answer on port 40555 ...\n"
       "Keep is ready: http://127.0.0.1:40555/\n",
       "The backup was stopped; nothing was kept. Keep runs again."},
  };
  settings(keep_settings);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));
  for (const StopCase& c : cases) {
    fake.output.text.clear();
    const std::size_t earlier = runs_without_lists().size();
    fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list(c.state)));
    // The Ctrl-C comes while the first copy runs: the copy is the first attached run.
    int watches = 0;
    const InterruptWatch interrupts{
        .watch = [&] { ++watches; },
        .requested = [&] { return !fake.runner.runs().empty() && fake.runner.runs().back().attached; },
    };
    CommandContext ctx = fake.context();
    ctx.interrupts = &interrupts;
    EXPECT_EQ(run_command(ctx, {"backup", "keep"}), std::unexpected(std::string(c.message))) << c.state;
    EXPECT_EQ(fake.output.text, c.output) << c.state;
    std::vector<std::string> expected_runs{"podman volume exists torvo-keep-files",
                                           "podman volume exists torvo-keep-db"};
    expected_runs.insert(expected_runs.end(), c.runs.begin(), c.runs.end());
    const std::vector<std::string> all = runs_without_lists();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(earlier), all.end()), expected_runs)
        << c.state;
    EXPECT_EQ(watches, 1) << c.state;
    EXPECT_TRUE(entry_names(base).empty()) << c.state;
  }
}

TEST_F(BackupCommands, BackupIntoANamedFolderMakesTheStampedFolderInsideIt) {
  const fs::path mine = folder.path() / "my backups" / "deeper";
  const fs::path inside = mine / "keep-2024-03-05-1407";
  auto result = run({"backup", "keep", path_to_utf8(mine)});
  ASSERT_TRUE(result) << result.error();
  EXPECT_TRUE(fs::is_directory(inside));
  EXPECT_FALSE(fs::exists(base));
  EXPECT_FALSE(fs::exists(inside / "settings.env"));  // the app had no settings file
  EXPECT_EQ(runs_without_lists().at(2), "attached: podman volume export torvo-keep-files -o " +
                                            tar(mine / ".keep-2024-03-05-1407.incomplete", "torvo-keep-files"));
  EXPECT_TRUE(fake.output.text.ends_with("Keep is backed up in " + path_to_utf8(inside) +
                                         ". Keep the whole folder: it holds the app's data and its passwords.\n"));
}

TEST_F(BackupCommands, OnlyTheVolumesThatExistAreCopied) {
  fake.runner.on("podman", {"volume", "exists", "torvo-keep-files"}, ScriptedRunner::failed(1));
  ASSERT_TRUE(run({"backup", "keep"}));
  EXPECT_EQ(fake.output.text, "Copying torvo-keep-db ...\n"
                              "Keep is backed up in " + path_to_utf8(stamped) +
                                  ". Keep the whole folder: it holds the app's data and its passwords.\n");
}

TEST_F(BackupCommands, AnAppWithoutDataHasNothingToBackUp) {
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
  auto result = run({"backup", "keep"});
  EXPECT_EQ(result, std::unexpected(std::string("Keep has no data on this computer yet.")));
  EXPECT_FALSE(fs::exists(base));
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{"podman volume exists torvo-keep-files", "podman volume exists torvo-keep-db"}));
}

TEST_F(BackupCommands, BackupIsRefusedWithDockerAndWithoutARuntime) {
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::ok(""));
  EXPECT_EQ(run({"backup", "keep"}), std::unexpected(std::string(docker_refused)));
  EXPECT_EQ(run({"restore", "keep", path_to_utf8(base)}), std::unexpected(std::string(docker_refused)));
  EXPECT_TRUE(runs_without_lists().empty());

  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  EXPECT_EQ(run({"backup", "keep"}), std::unexpected(std::string(no_runtime)));
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(BackupCommands, BackupNamesItsUsageAndUnknownApps) {
  EXPECT_EQ(run({"backup"}), std::unexpected(std::string("Usage: zelk backup <app> [folder]")));
  auto unknown = run({"backup", "nope"});
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error(), app_argument({"backup", "nope"}, recipes, "backup").error());
  EXPECT_NE(unknown.error().find("nope"), std::string::npos);
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(BackupCommands, ADataFolderWithoutAParentNeedsAFolderNamed) {
  TestContext rooted{path_from_utf8("/"), recipes};
  rooted.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  rooted.runner.on("podman", {"volume", "exists"}, ScriptedRunner::ok());
  CommandContext ctx = rooted.context();
  EXPECT_EQ(run_command(ctx, {"backup", "keep"}),
            std::unexpected(std::string("No folder for backups was found. Name one: zelk backup <app> <folder>")));
  EXPECT_EQ(rooted.output.text, "");
}

TEST_F(BackupCommands, AFolderThatCannotBeMadeIsNamed) {
  ASSERT_TRUE(write_file_atomically(folder.path() / "a file", "x"));
  const fs::path inside = folder.path() / "a file" / "keep-2024-03-05-1407";
  std::error_code expected;
  fs::create_directories(inside, expected);
  ASSERT_TRUE(expected);

  auto result = run({"backup", "keep", path_to_utf8(folder.path() / "a file")});
  EXPECT_EQ(result, std::unexpected(path_to_utf8(inside) + " could not be made: " + expected.message() +
                                    " (os error " + std::to_string(expected.value()) + ")"));
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(BackupCommands, SettingsThatCannotBeCopiedStopTheBackupBeforeAnythingStops) {
  settings(keep_settings);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fs::remove(settings_path(home, "keep"));
  fs::create_directories(settings_path(home, "keep") / "in the way");
  auto result = run({"backup", "keep"});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("The settings could not be copied: ")) << result.error();
  EXPECT_TRUE(result.error().ends_with(")")) << result.error();
  EXPECT_EQ(fake.output.text, "");
  EXPECT_EQ(runs_without_lists().size(), 2u);  // the two volume questions only
  EXPECT_TRUE(entry_names(base).empty());
}

TEST_F(BackupCommands, AFailedStopEndsTheBackup) {
  settings(keep_settings);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"stop", "torvo-keep-db"}, ScriptedRunner::failed(125, "Error: cannot stop\n\n"));
  auto result = run({"backup", "keep"});
  EXPECT_EQ(result,
            std::unexpected(std::string("\"podman stop torvo-keep-db\" failed.\n    It said: Error: cannot stop")));
  EXPECT_EQ(fake.output.text, "Stopping Keep for the copy ...\n");
  EXPECT_EQ(runs_without_lists().back(), "podman stop torvo-keep-db");
}

TEST_F(BackupCommands, AFailedCopySkipsTheRestStartsTheAppAgainAndIsReported) {
  settings(keep_settings);
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));
  fake.runner.on("podman", {"volume", "export", "torvo-keep-files"}, ScriptedRunner::failed(125));

  auto result = run({"backup", "keep"});
  EXPECT_EQ(result, std::unexpected(std::string("\"podman volume export torvo-keep-files\" failed (exit code 125).")));
  EXPECT_EQ(fake.output.text, "Stopping Keep for the copy ...\n"
                              "Copying torvo-keep-files ...\n"
                              "Starting Keep's helper \"db\" with Podman ...\n"
                              "Starting Keep with Podman ...\n"
                              "Waiting for Keep to answer on port 40555 ...\n"
                              "Keep is ready: http://127.0.0.1:40555/\n");
  for (const std::string& line : runs_without_lists()) EXPECT_EQ(line.find("torvo-keep-db -o"), std::string::npos);
}

TEST_F(BackupCommands, AFailedCopyOfAStoppedAppIsReportedAtOnce) {
  fake.runner.on("podman", {"volume", "export"}, std::unexpected(RunError::not_found()));
  auto result = run({"backup", "keep"});
  EXPECT_EQ(result, std::unexpected(std::string(
                        "\"podman volume export torvo-keep-files\" failed (the program was not found).")));
  EXPECT_EQ(fake.output.text, "Copying torvo-keep-files ...\n");
}

TEST_F(BackupCommands, AFailedStartAfterTheCopyIsTheErrorShown) {
  settings(keep_settings);
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(keep_list("exited")));
  fake.runner.on("podman", {"volume", "export"}, ScriptedRunner::failed(1));
  fake.runner.on("podman", {"start"}, ScriptedRunner::failed(125, "Error: no such container\n"));

  auto result = run({"backup", "keep"});
  EXPECT_EQ(result, std::unexpected(std::string(
                        "\"podman start torvo-keep-db\" failed.\n    It said: Error: no such container")));
}

TEST_F(BackupCommands, ARuntimeGoneAfterTheCopyIsTheErrorShown) {
  settings(keep_settings);
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(keep_list("running")));
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  EXPECT_EQ(run({"backup", "keep"}), std::unexpected(std::string(no_runtime)));
  // The copy is whole and kept; the line says where before the start's error.
  EXPECT_EQ(fake.output.text, "Stopping Keep for the copy ...\n"
                              "Copying torvo-keep-files ...\n"
                              "Copying torvo-keep-db ...\n"
                              "Keep is backed up in " + path_to_utf8(stamped) +
                                  ". Keep the whole folder: it holds the app's data and its passwords.\n");
}

// ---- restore -----------------------------------------------------------------------------

struct RestoreCommands : BackupCommands {
  fs::path backup = folder.path() / "backup";

  void SetUp() override {
    BackupCommands::SetUp();
    fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
    fake.runner.on("podman", {"volume", "rm"}, ScriptedRunner::ok());
    fs::create_directories(backup);
    ASSERT_TRUE(write_file_atomically(backup / "torvo-keep-files.tar", tar_file("files", "files") + tar_end()));
    ASSERT_TRUE(write_file_atomically(backup / "torvo-keep-db.tar", tar_file("db", "db") + tar_end()));
  }

  std::string backup_text() const { return path_to_utf8(backup); }
};

TEST_F(RestoreCommands, PutsTheVolumesAndTheSettingsBack) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", keep_settings));

  auto result = run({"restore", "keep", backup_text()});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\n"
                              "Putting back torvo-keep-db ...\n"
                              "Keep is restored. Start it: zelk start keep\n");
  EXPECT_EQ(
      runs_without_lists(),
      (std::vector<std::string>{"podman volume exists torvo-keep-files", "podman volume exists torvo-keep-db",
                                "podman volume create torvo-keep-files",
                                "attached: podman volume import torvo-keep-files " + tar(backup, "torvo-keep-files"),
                                "podman volume create torvo-keep-db",
                                "attached: podman volume import torvo-keep-db " + tar(backup, "torvo-keep-db")}));
  for (const RecordedRun& r : fake.runner.runs()) {
    if (r.attached) {
      EXPECT_EQ(r.mode, AttachMode::ErrorsOnly);
    }
  }
  EXPECT_EQ(text_of(settings_path(home, "keep")), keep_settings);
  EXPECT_FALSE(fs::exists(running_marker_path(home, "keep")));
}

TEST_F(RestoreCommands, MakesTheAppFolderForTheSettings) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", keep_settings));
  fs::remove_all(home);
  ASSERT_TRUE(run({"restore", "keep", backup_text()}));
  EXPECT_EQ(text_of(settings_path(home, "keep")), keep_settings);
}

TEST_F(RestoreCommands, ABackupWithoutSettingsLeavesTheSettingsAlone) {
  settings("TORVO_PORT=40600\n");
  ASSERT_TRUE(run({"restore", "keep", backup_text()}));
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\n"
                              "Putting back torvo-keep-db ...\n"
                              "Keep is restored. Start it: zelk start keep\n");
  EXPECT_EQ(text_of(settings_path(home, "keep")), "TORVO_PORT=40600\n");
  EXPECT_FALSE(fs::exists(settings_path(home, "solo")));
}

TEST_F(RestoreCommands, AFolderMissingTwoFilesNamesBoth) {
  fs::remove(backup / "torvo-keep-files.tar");
  fs::remove(backup / "torvo-keep-db.tar");
  auto result = run({"restore", "keep", backup_text()});
  EXPECT_EQ(result, std::unexpected(backup_text() +
                                    " is not a backup of Keep: torvo-keep-files.tar, torvo-keep-db.tar is missing."));
  EXPECT_TRUE(runs_without_lists().empty());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(RestoreCommands, AFolderMissingOneFileNamesIt) {
  fs::remove(backup / "torvo-keep-db.tar");
  EXPECT_EQ(run({"restore", "keep", backup_text()}),
            std::unexpected(backup_text() + " is not a backup of Keep: torvo-keep-db.tar is missing."));
}

TEST_F(RestoreCommands, AnAppWithDataInItsSecondVolumeIsRefused) {
  fake.runner.on("podman", {"volume", "exists", "torvo-keep-db"}, ScriptedRunner::ok());
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", keep_settings));
  settings("TORVO_PORT=40600\n");

  auto result = run({"restore", "keep", backup_text()});
  EXPECT_EQ(result, std::unexpected(std::string(
                        "Keep still has data on this computer, in torvo-keep-db. A backup goes back only into an app "
                        "without data, so nothing is written over. To replace the data: zelk remove keep, then "
                        "\"podman volume rm torvo-keep-files torvo-keep-db\", then restore again.")));
  EXPECT_EQ(runs_without_lists(),
            (std::vector<std::string>{"podman volume exists torvo-keep-files", "podman volume exists torvo-keep-db"}));
  EXPECT_EQ(text_of(settings_path(home, "keep")), "TORVO_PORT=40600\n");
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(RestoreCommands, TheFirstVolumeWithDataEndsTheQuestions) {
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::ok());
  auto result = run({"restore", "keep", backup_text()});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("Keep still has data on this computer, in torvo-keep-files. "))
      << result.error();
  EXPECT_EQ(runs_without_lists(), std::vector<std::string>{"podman volume exists torvo-keep-files"});
}

TEST_F(RestoreCommands, AFailedImportEndsTheRestore) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", keep_settings));
  fake.runner.on("podman", {"volume", "import", "torvo-keep-files"}, ScriptedRunner::failed(2));
  auto result = run({"restore", "keep", backup_text()});
  EXPECT_EQ(result, std::unexpected(std::string("\"podman volume import torvo-keep-files\" failed (exit code 2).\nThe "
                                                "volume this restore had made (torvo-keep-files) is removed again, "
                                                "and the settings are as they were.")));
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\n");
  const std::vector<std::string> runs = runs_without_lists();
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[3], "attached: podman volume import torvo-keep-files " + tar(backup, "torvo-keep-files"));
  EXPECT_EQ(runs[4], "podman volume rm torvo-keep-files");
  EXPECT_FALSE(fs::exists(settings_path(home, "keep")));
}

TEST_F(RestoreCommands, AFailedCreateEndsTheRestore) {
  fake.runner.on("podman", {"volume", "create", "torvo-keep-db"},
                 ScriptedRunner::failed(125, "Error: volume with name torvo-keep-db already exists\n"));
  auto result = run({"restore", "keep", backup_text()});
  EXPECT_EQ(result, std::unexpected(std::string("\"podman volume create torvo-keep-db\" failed.\n    It said: Error: "
                                                "volume with name torvo-keep-db already exists\nThe volume this "
                                                "restore had made (torvo-keep-files) is removed again, and the "
                                                "settings are as they were.")));
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\nPutting back torvo-keep-db ...\n");
}

TEST_F(RestoreCommands, SettingsThatCannotBePutBackAreNamedAfterTheVolumes) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", keep_settings));
  fs::create_directories(home / "apps");
  ASSERT_TRUE(write_file_atomically(home / "apps" / "keep", "a file where the app's folder goes"));
  auto result = run({"restore", "keep", backup_text()});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("The settings could not be put back in the folder \"" +
                                         path_to_utf8(home / "apps" / "keep") + "\": "))
      << result.error();
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\nPutting back torvo-keep-db ...\n");
  EXPECT_EQ(runs_without_lists().size(), 8u);  // the two volumes made are removed again
}

TEST_F(RestoreCommands, RestoreNamesItsUsage) {
  EXPECT_EQ(run({"restore"}), std::unexpected(std::string("Usage: zelk restore <app> <folder>")));
  EXPECT_EQ(run({"restore", "keep"}), std::unexpected(std::string("Usage: zelk restore <app> <folder>")));
  CommandContext ctx = fake.context();
  EXPECT_EQ(cmd_restore(ctx, {"restore", "keep"}), std::unexpected(std::string("Usage: zelk restore <app> <folder>")));
  auto unknown = run({"restore", "nope", backup_text()});
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error(), app_argument({"restore", "nope"}, recipes, "restore").error());
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(RestoreCommands, ABackupMadeHereGoesBack) {
  // What backup writes is what restore reads: the settings copy and one file per volume.
  settings(keep_settings);
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::ok());
  ASSERT_TRUE(run({"backup", "keep"}));
  ASSERT_TRUE(write_file_atomically(stamped / "torvo-keep-files.tar", tar_file("files", "files") + tar_end()));
  ASSERT_TRUE(write_file_atomically(stamped / "torvo-keep-db.tar", tar_file("db", "db") + tar_end()));
  fs::remove(settings_path(home, "keep"));
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
  fake.output.text.clear();

  auto restored = run({"restore", "keep", path_to_utf8(stamped)});
  ASSERT_TRUE(restored) << restored.error();
  EXPECT_EQ(text_of(settings_path(home, "keep")), keep_settings);
  EXPECT_EQ(fake.output.text, "Putting back torvo-keep-files ...\n"
                              "Putting back torvo-keep-db ...\n"
                              "Keep is restored. Start it: zelk start keep\n");
}

}  // namespace
}  // namespace zelk
