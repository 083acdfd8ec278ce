#include "apps_start.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::string hex_counting(std::uint8_t from, std::size_t bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto b = static_cast<std::uint8_t>(from + i);
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text;
}

const std::string ps_format = "{{.Names}}\t{{.State}}\t{{.Labels}}";
// What inspect is asked of a container that is made anew: its state, data volumes and port.
const std::string use_format =
    "state {{.State.Status}}{{println}}"
    "{{range .Mounts}}{{if eq .Type \"volume\"}}volume {{.Name}}{{println}}{{end}}{{end}}"
    "{{range $port, $bindings := .HostConfig.PortBindings}}{{range $bindings}}port {{.HostPort}}{{println}}"
    "{{end}}{{end}}";

struct StartAppTest : ::testing::Test {
  TestFolder home;
  std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text), read_test_recipe(duo_recipe_text),
                              read_test_recipe(user_recipe_text(""))};
  TestContext fake{home.path(), recipes};
  const ContainerRuntime podman = runtime_table[0];
  const ContainerRuntime docker = runtime_table[1];

  const Recipe& solo() const { return recipes[0]; }
  const Recipe& duo() const { return recipes[1]; }

  void SetUp() override {
    for (const char* rt : {"podman", "docker"}) {
      fake.runner.on(rt, {"ps"}, ScriptedRunner::ok(""));
      fake.runner.on(rt, {"image", "exists"}, ScriptedRunner::failed(1));
      fake.runner.on(rt, {"image", "inspect"}, ScriptedRunner::failed(1));
      fake.runner.on(rt, {"network"}, ScriptedRunner::ok());
      fake.runner.on(rt, {"run"}, ScriptedRunner::ok());
      fake.runner.on(rt, {"create"}, ScriptedRunner::ok());
      fake.runner.on(rt, {"start"}, ScriptedRunner::ok());
      fake.runner.on(rt, {"rm"}, ScriptedRunner::ok());
    }
    fake.runner.on("podman", {"info"}, ScriptedRunner::failed(125, "Error: no service"));
    fake.runner.on("df", {}, df_answer(100000));
    fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  }

  static ScriptedRunner::Reply df_answer(std::uint64_t free_mb) {
    return ScriptedRunner::ok("Filesystem     1024-blocks      Used Available Capacity Mounted on\n"
                              "/dev/sda1       100000000  50000000 " +
                              std::to_string(free_mb * 1024) + "      50% /\n");
  }

  void list_says(const std::string& runtime, std::string output) {
    fake.runner.on(runtime, {"ps"}, ScriptedRunner::ok(std::move(output)));
  }

  std::expected<std::uint16_t, std::string> start(const Recipe& recipe, const ContainerMap& containers = {},
                                                  const ContainerRuntime* runtime = nullptr) {
    CommandContext ctx = fake.context();
    return start_app(ctx, runtime ? *runtime : podman, recipe, containers);
  }

  std::string settings_text(std::string_view id) {
    return read_file(settings_path(home.path(), id)).value_or("<none>");
  }

  void write_settings_file(std::string_view id, std::string_view text) {
    fs::create_directories(app_folder(home.path(), id));
    ASSERT_TRUE(write_file_atomically(settings_path(home.path(), id), text));
  }

  // The run command start_app makes for the app's own container with the settings on disk.
  ContainerRun own_run(const Recipe& recipe) {
    const std::string text = settings_text(recipe.id);
    return as_started(
        run_arguments(app_run_plan(recipe), recipe, settings_port(text).value_or(recipe.port), text).value(),
        home.path());
  }

  // Before a first install the other runtime is asked whether it keeps the app.
  static std::vector<std::string> other_runtime_lines(const ContainerRuntime& chosen, const Recipe& recipe) {
    const std::string other = chosen.command == "podman" ? "docker" : "podman";
    std::vector<std::string> lines{other + " ps -a --format " + ps_format};
    for (const std::string& volume : volume_names(recipe)) {
      lines.push_back(other + (other == "docker" ? " volume inspect " : " volume exists ") + volume);
    }
    return lines;
  }

  std::vector<RecordedRun> attached_runs() {
    std::vector<RecordedRun> attached;
    for (const RecordedRun& run : fake.runner.runs()) {
      if (run.attached) attached.push_back(run);
    }
    return attached;
  }
};

std::string joined(const std::string& program, const std::vector<std::string>& args) {
  std::string line = program;
  for (const std::string& arg : args) line += " " + arg;
  return line;
}

// ---- the settings file --------------------------------------------------------------

TEST_F(StartAppTest, AFirstStartMakesTheSettingsFileWithFreshSecrets) {
  auto port = start(solo());
  ASSERT_TRUE(port) << port.error();
  EXPECT_EQ(*port, 40123);
  EXPECT_EQ(settings_text("solo"),
            "# Settings of Solo. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=40123\n"
            "SOLO_KEY=" + hex_counting(0, 16) + "\n"
            "SOLO_TOKEN=" + hex_counting(16, 32) + "\n"
            "COLOUR=blue\n");
  EXPECT_EQ(fake.output.text,
            "Installing Solo with Podman; it takes about 1.0 GB on disk ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  EXPECT_TRUE(fs::exists(running_marker_path(home.path(), "solo")));
  EXPECT_EQ(read_file(running_marker_path(home.path(), "solo")).value(), "");

  const ContainerRun run = own_run(solo());
  std::vector<std::string> expected = other_runtime_lines(podman, solo());
  expected.insert(expected.end(), {
                "podman image exists localhost/zelk/solo:1.0",
                "df -Pk " + path_to_utf8(home.path()),
                "podman image exists localhost/zelk/solo:1.0",
                "podman info --format {{.Host.RemoteSocket.Exists}} {{.Host.RemoteSocket.Path}}",
                "attached: " + joined("podman", run.args),
            });
  EXPECT_EQ(fake.runner.run_lines(), expected);
  const auto attached = attached_runs();
  ASSERT_EQ(attached.size(), 1u);
  EXPECT_EQ(attached[0].mode, AttachMode::ErrorsOnly);
  EXPECT_EQ(attached[0].environment,
            (EnvPairs{{"KEY", hex_counting(0, 16)}, {"TOKEN", hex_counting(16, 32)}}));
  for (const std::string& arg : attached[0].args) {
    EXPECT_EQ(arg.find(hex_counting(0, 16)), std::string::npos);
    EXPECT_EQ(arg.find(hex_counting(16, 32)), std::string::npos);
  }
  EXPECT_EQ(fake.probes, (std::vector<std::pair<std::uint16_t, std::string>>{{40123, "/health"}}));
}

TEST_F(StartAppTest, ASettingsFileThatHoldsEverythingIsNotWrittenAgain) {
  const std::string text = "# mine\nTORVO_PORT=40999\nSOLO_KEY=aa\nSOLO_TOKEN=bb\nCOLOUR=red\n";
  write_settings_file("solo", text);
  // Whole seconds, which every file system keeps as they are.
  const auto old_time =
      std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(24));
  fs::last_write_time(settings_path(home.path(), "solo"), old_time);
  auto port = start(solo());
  ASSERT_TRUE(port) << port.error();
  EXPECT_EQ(*port, 40999);
  EXPECT_EQ(settings_text("solo"), text);
  EXPECT_EQ(fs::last_write_time(settings_path(home.path(), "solo")), old_time);
  EXPECT_EQ(attached_runs().at(0).environment, (EnvPairs{{"KEY", "aa"}, {"TOKEN", "bb"}}));
  EXPECT_NE(fake.output.text.find("Solo is ready: http://127.0.0.1:40999/app\n"), std::string::npos);
}

TEST_F(StartAppTest, ASettingsFileAsEditorsSaveItIsReadPastItsMarkAndOneNotUtf8IsRefused) {
  write_settings_file("solo", "\xEF\xBB\xBFTORVO_PORT=40999\nSOLO_KEY=aa\nSOLO_TOKEN=bb\n");
  auto port = start(solo());
  ASSERT_TRUE(port) << port.error();
  EXPECT_EQ(*port, 40999);
  EXPECT_EQ(attached_runs().at(0).environment, (EnvPairs{{"KEY", "aa"}, {"TOKEN", "bb"}}));
  EXPECT_EQ(settings_text("solo"), "TORVO_PORT=40999\nSOLO_KEY=aa\nSOLO_TOKEN=bb\n");

  write_settings_file("solo", "TORVO_PORT=40999\nCOLOUR=gr\xfcn\n");
  port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "The settings file " + path_to_utf8(settings_path(home.path(), "solo")) +
                              " of Solo is not UTF-8 text. Save it as UTF-8 text and try again.");
}

TEST_F(StartAppTest, AnEmptySecretGetsAValueAndOtherLinesKeepTheirOrder) {
  write_settings_file("solo", "SOLO_TOKEN=kept\r\nX=1\r\nSOLO_KEY=\r\nTORVO_PORT=40500");
  ASSERT_TRUE(start(solo()));
  EXPECT_EQ(settings_text("solo"), "SOLO_TOKEN=kept\nX=1\nSOLO_KEY=" + hex_counting(0, 16) + "\nTORVO_PORT=40500\n");
}

TEST_F(StartAppTest, APortThatIsNoPortIsReplacedByTheRecipesPort) {
  // The user is told what was wrong, which port is used and that the file changed.
  for (const std::string value : {"70000", "abc", "\x1b[2J"}) {
    fake.output.text.clear();
    write_settings_file("solo", "TORVO_PORT=" + value + "\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
    auto port = start(solo());
    ASSERT_TRUE(port) << value;
    EXPECT_EQ(*port, 40123);
    EXPECT_EQ(settings_text("solo"), "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
    const std::string shown = value == "\x1b[2J" ? "\\x1b[2J" : value;
    EXPECT_TRUE(fake.output.text.starts_with(
        "TORVO_PORT in " + path_to_utf8(settings_path(home.path(), "solo")) + " is \"" + shown +
        "\", which is not a port (a number from 1 to 65535). Solo uses port 40123, the one its recipe gives, and the "
        "file now says TORVO_PORT=40123.\n"))
        << fake.output.text;
  }
}

TEST_F(StartAppTest, AMissingPortLineIsAdded) {
  write_settings_file("solo", "SOLO_KEY=a\nSOLO_TOKEN=b\n");
  ASSERT_TRUE(start(solo()));
  EXPECT_EQ(settings_text("solo"), "SOLO_KEY=a\nSOLO_TOKEN=b\nTORVO_PORT=40123\n");
}

TEST_F(StartAppTest, SettingsThatCannotBeReadStopEverything) {
  fs::create_directories(settings_path(home.path(), "solo"));  // a folder where the file should be
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_TRUE(port.error().starts_with("The settings of Solo could not be written: ")) << port.error();
  EXPECT_TRUE(fake.runner.runs().empty());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(StartAppTest, SettingsThatCannotBeWrittenNameTheAppsFolder) {
  // A file stands where the app's folder goes.
  const fs::path folder = home.path() / "apps" / "solo";
  fs::create_directories(folder.parent_path());
  ASSERT_TRUE(write_file_atomically(folder, "not a folder"));
  const auto refused = make_private_folder(folder);  // what the system says of it
  ASSERT_FALSE(refused);
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "The settings of Solo could not be written in the folder \"" + path_to_utf8(folder) + "\": " +
                refused.error());
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(StartAppTest, NoRandomDataStopsBeforeAnyContainer) {
  fake.random_error = "The operating system gave no random data.";
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "The settings of Solo could not be written: The operating system gave no random data.");
  EXPECT_TRUE(fake.runner.runs().empty());
  EXPECT_FALSE(fs::exists(settings_path(home.path(), "solo")));
}

// ---- the free disk space ------------------------------------------------------------

TEST_F(StartAppTest, FreeSpaceOfExactlyTheSizeAndTwoGigabytesIsEnough) {
  fake.runner.on("df", {}, df_answer(1024 + 2048));
  EXPECT_TRUE(start(solo()));
}

TEST_F(StartAppTest, OneMegabyteLessIsRefusedBeforeAnyContainer) {
  fake.runner.on("df", {}, df_answer(1024 + 2047));
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "Solo takes about 1.0 GB on disk once downloaded, and only 3.0 GB are free on this disk. "
            "Free at least 1 MB more and try again.");
  EXPECT_TRUE(attached_runs().empty());
  EXPECT_TRUE(fs::exists(settings_path(home.path(), "solo")));  // the settings stay written
}

TEST_F(StartAppTest, NoDiskCheckWhenTheImageIsThere) {
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  fake.runner.on("df", {}, df_answer(1));
  EXPECT_TRUE(start(solo()));
  for (const auto& line : fake.runner.run_lines()) EXPECT_FALSE(line.starts_with("df")) << line;
}

TEST_F(StartAppTest, NoDiskCheckWhenTheContainerExists) {
  fake.runner.on("df", {}, df_answer(1));
  ContainerMap containers{{"torvo-solo", {"exited", "0"}}};
  EXPECT_TRUE(start(solo(), containers));
  for (const auto& line : fake.runner.run_lines()) EXPECT_FALSE(line.starts_with("df")) << line;
}

TEST_F(StartAppTest, DfFieldsAreSplitAtAnyWhiteSpace) {
  // No-break and ideographic spaces part the fields as blanks do: 1 MB free is found and refused.
  fake.runner.on("df", {}, ScriptedRunner::ok("Filesystem 1024-blocks Used Available\n"
                                              "/dev/sda1\xc2\xa0" "100000000\xe3\x80\x80"
                                              "50000000\xe2\x80\x83" "1024 50% /\n"));
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "Solo takes about 1.0 GB on disk once downloaded, and only 1 MB are free on this disk. "
            "Free at least 3.0 GB more and try again.");
}

TEST_F(StartAppTest, AnUnreadableAnswerSkipsTheDiskCheck) {
  for (auto reply :
       {ScriptedRunner::Reply(ScriptedRunner::ok("garbage\n")), ScriptedRunner::Reply(ScriptedRunner::failed(1)),
        ScriptedRunner::Reply(std::unexpected(RunError::timed_out())),
        ScriptedRunner::Reply(ScriptedRunner::ok("Filesystem x\n/dev/sda1 1 2 lots 3 /\n"))}) {
    fake.runner.on("df", {}, reply);
    EXPECT_TRUE(start(solo()));
  }
}

TEST_F(StartAppTest, OnWindowsPowerShellTellsTheFreeBytesOfTheDrive) {
  fake.platform = "windows";
  fake.home = path_from_utf8("C:\\Users\\ann\\.torvo");
  // The settings go to the real folder of the test; only the text of the home path matters here.
  CommandContext ctx = fake.context();
  fake.runner.on("powershell", {}, ScriptedRunner::ok(std::to_string((std::uint64_t{3071}) << 20) + "\r\n"));
  EXPECT_EQ(free_megabytes(ctx), 3071u);
  const auto runs = fake.runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, (std::vector<std::string>{"-NoProfile", "-NonInteractive", "-Command",
                                                    "(Get-PSDrive -Name C).Free"}));
  EXPECT_EQ(runs[0].limit, seconds(20));
}

TEST_F(StartAppTest, OnWindowsAHomeWithoutADriveLetterIsNotChecked) {
  fake.platform = "windows";
  fake.home = path_from_utf8("\\\\server\\share\\.torvo");
  CommandContext ctx = fake.context();
  EXPECT_EQ(free_megabytes(ctx), std::nullopt);
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(StartAppTest, DfIsAskedWithItsLimit) {
  CommandContext ctx = fake.context();
  EXPECT_EQ(free_megabytes(ctx), 100000u);
  EXPECT_EQ(fake.runner.runs().at(0).limit, seconds(20));
}

// ---- each container ------------------------------------------------------------------

TEST_F(StartAppTest, AppWhoseContainersRunWithTheCurrentHashIsNotTouched) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  ContainerMap containers{{"torvo-solo", {"running", own_run(solo()).recipe_hash}}};
  ASSERT_TRUE(start(solo(), containers));
  EXPECT_EQ(fake.output.text,
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  EXPECT_TRUE(fake.runner.runs().empty());
}

TEST_F(StartAppTest, AStoppedContainerWithTheCurrentHashIsStarted) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  ContainerMap containers{{"torvo-solo", {"exited", own_run(solo()).recipe_hash}}};
  ASSERT_TRUE(start(solo(), containers, &docker));
  EXPECT_EQ(fake.output.text,
            "Starting Solo with Docker ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  EXPECT_EQ(fake.runner.run_lines(), (std::vector<std::string>{"docker start torvo-solo"}));
}

TEST_F(StartAppTest, AFailedStartEndsTheCall) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  fake.runner.on("podman", {"start"}, ScriptedRunner::failed(125, "Error: no such container\n"));
  ContainerMap containers{{"torvo-solo", {"exited", own_run(solo()).recipe_hash}}};
  auto port = start(solo(), containers);
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "\"podman start torvo-solo\" failed.\n    It said: Error: no such container");
  EXPECT_FALSE(fs::exists(running_marker_path(home.path(), "solo")));
}

TEST_F(StartAppTest, AFailedStartOfAStoppedContainerRemovesNothing) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  fake.runner.on("docker", {"start"}, ScriptedRunner::failed(1, "Error: cannot start\n"));
  for (const char* state : {"exited", "paused", "stopped", "dead"}) {
    fake.output.text.clear();
    ContainerMap containers{{"torvo-solo", {state, own_run(solo()).recipe_hash}}};
    auto port = start(solo(), containers, &docker);
    ASSERT_FALSE(port) << state;
    EXPECT_EQ(port.error(), "\"docker start torvo-solo\" failed.\n    It said: Error: cannot start") << state;
    EXPECT_EQ(fake.output.text, "Starting Solo with Docker ...\n") << state;
  }
  for (const std::string& line : fake.runner.run_lines()) EXPECT_EQ(line, "docker start torvo-solo");
}

struct NeverStartedCase {
  const char* state;
  const ContainerRuntime* runtime;
};

TEST_F(StartAppTest, AContainerThatNeverStartedAndWillNotIsMadeAnew) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::ok());
  const NeverStartedCase cases[] = {{"created", &podman}, {"initialized", &podman}, {"created", &docker}};
  for (const NeverStartedCase& c : cases) {
    const std::string rt(c.runtime->command);
    const std::string label = rt + " " + c.state;
    fake.runner.on(rt, {"start"}, ScriptedRunner::failed(125, "Error: cannot start a container that has stopped\n"));
    fake.output.text.clear();
    const std::size_t runs_before = fake.runner.runs().size();
    const std::size_t attached_before = attached_runs().size();
    const ContainerRun run = own_run(solo());
    ContainerMap containers{{"torvo-solo", {c.state, run.recipe_hash}}};

    auto port = start(solo(), containers, c.runtime);
    ASSERT_TRUE(port) << label << ": " << port.error();
    EXPECT_EQ(*port, 40123) << label;
    EXPECT_EQ(fake.output.text,
              "Starting Solo with " + std::string(c.runtime->display_name) + " ...\n"
              "Solo never finished its first start. Making it anew; its data is kept.\n"
              "Waiting for Solo to answer on port 40123 ...\n"
              "Solo is ready: http://127.0.0.1:40123/app\n")
        << label;
    std::vector<std::string> expected{rt + " start torvo-solo", rt + " rm -f -v torvo-solo"};
    if (rt == "podman") expected.push_back("podman image exists localhost/zelk/solo:1.0");
    if (rt == "docker") {
      expected.push_back("docker image inspect localhost/zelk/solo:1.0");
      expected.push_back("docker context inspect --format {{.Endpoints.docker.Host}}");
    }
    expected.push_back("attached: " + joined(rt, run.args));
    const std::vector<std::string> lines = fake.runner.run_lines();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(runs_before), lines.end()), expected)
        << label;
    EXPECT_EQ(attached_runs().at(attached_before).environment, (EnvPairs{{"KEY", "a"}, {"TOKEN", "b"}})) << label;
    EXPECT_TRUE(fs::exists(running_marker_path(home.path(), "solo"))) << label;
  }
}

TEST_F(StartAppTest, ANeverStartedContainerThatStartsIsOnlyStarted) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  ContainerMap containers{{"torvo-solo", {"initialized", own_run(solo()).recipe_hash}}};
  ASSERT_TRUE(start(solo(), containers));
  EXPECT_EQ(fake.output.text,
            "Starting Solo with Podman ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  EXPECT_EQ(fake.runner.run_lines(), (std::vector<std::string>{"podman start torvo-solo"}));
}

TEST_F(StartAppTest, MakingANeverStartedContainerAnewEndsAtTheFirstFailure) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  ContainerMap containers{{"torvo-solo", {"created", own_run(solo()).recipe_hash}}};
  fake.runner.on("docker", {"start"}, ScriptedRunner::failed(1));
  fake.runner.once("docker", {"rm"}, ScriptedRunner::failed(1, "Error: container is in use\n"));
  auto removal = start(solo(), containers, &docker);
  ASSERT_FALSE(removal);
  EXPECT_EQ(removal.error(), "\"docker rm -f -v torvo-solo\" failed.\n    It said: Error: container is in use");
  EXPECT_EQ(fake.runner.run_lines(),
            (std::vector<std::string>{"docker start torvo-solo", "docker rm -f -v torvo-solo"}));

  // The new container does not start either: the run's own message, and the fallback image
  // is tried as for any first run that made no container.
  fake.output.text.clear();
  fake.runner.on("docker", {"run"}, ScriptedRunner::failed(125));
  auto run = start(solo(), containers, &docker);
  ASSERT_FALSE(run);
  EXPECT_EQ(run.error(), "Solo could not be started: \"docker run\" failed (exit code 125); see the output above.");
  EXPECT_EQ(fake.output.text,
            "Starting Solo with Docker ...\n"
            "Solo never finished its first start. Making it anew; its data is kept.\n"
            "The image did not arrive from localhost. Trying mirror.example/zelk/solo:1.0 ...\n");
  EXPECT_FALSE(fs::exists(running_marker_path(home.path(), "solo")));
}

TEST_F(StartAppTest, AHelperThatNeverStartedIsMadeAnewUnderItsOwnName) {
  const std::string text = "TORVO_PORT=40200\nDUO_SECRET=s\n";
  write_settings_file("duo", text);
  const Recipe& recipe = duo();
  ContainerMap containers{
      {"torvo-duo", {"running", as_started(run_arguments(app_run_plan(recipe), recipe, 40200, text).value(),
                                           home.path()).recipe_hash}}};
  for (const RecipeService& helper : recipe.helpers) {
    containers[helper.container] = {
        "running", as_started(helper_run_arguments(recipe, 40200, text, helper).value(), home.path()).recipe_hash};
  }
  const ContainerRun db =
      as_started(helper_run_arguments(recipe, 40200, text, recipe.helpers.at(0)).value(), home.path());
  containers[db.container].state = "created";
  fake.runner.on("docker", {"start", db.container}, ScriptedRunner::failed(1));
  ASSERT_TRUE(start(duo(), containers, &docker));
  EXPECT_EQ(fake.output.text,
            "Starting Duo's helper \"db\" with Docker ...\n"
            "Duo's helper \"db\" never finished its first start. Making it anew; its data is kept.\n"
            "Waiting for Duo to answer on port 40200 ...\n"
            "Duo is ready: http://127.0.0.1:40200/\n");
  EXPECT_EQ(fake.runner.run_lines(),
            (std::vector<std::string>{"docker start torvo-duo-db", "docker rm -f -v torvo-duo-db",
                                      "docker network inspect torvo-duo_default",
                                      "attached: " + joined("docker", db.args)}));
  EXPECT_EQ(attached_runs().at(0).environment, (EnvPairs{{"PASSWORD", "s"}}));
}

TEST_F(StartAppTest, AContainerFromAnotherRecipeOrSettingsIsMadeAnew) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\nCOLOUR=green\n");
  ContainerMap containers{{"torvo-solo", {"running", "0123456789abcdef"}}};
  fake.runner.on("docker", {"inspect"}, ScriptedRunner::ok("volume torvo-solo-data\nport 40123\n"));
  ASSERT_TRUE(start(solo(), containers, &docker));
  EXPECT_EQ(fake.output.text,
            "Updating Solo to the current recipe and settings. Its data is kept.\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  const ContainerRun run = own_run(solo());
  EXPECT_EQ(fake.runner.run_lines(),
            (std::vector<std::string>{"docker inspect --format " + use_format + " torvo-solo",
                                      "docker rm -f -v torvo-solo", "docker image inspect localhost/zelk/solo:1.0",
                                      "docker context inspect --format {{.Endpoints.docker.Host}}",
                                      "attached: " + joined("docker", run.args)}));
  EXPECT_NE(std::find(run.args.begin(), run.args.end(), "COLOUR=green"), run.args.end());
}

TEST_F(StartAppTest, AChangedSecretAloneMakesTheContainerAnew) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=first-token\n");
  ASSERT_TRUE(start(solo(), {}, &docker));
  const ContainerRun first = own_run(solo());
  ASSERT_EQ(fake.runner.run_lines().back(), "attached: " + joined("docker", first.args));
  EXPECT_TRUE(fs::exists(settings_key_path(home.path())));

  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=second-token\n");
  const std::size_t runs_before = fake.runner.run_lines().size();
  ASSERT_TRUE(start(solo(), {{"torvo-solo", {"running", first.recipe_hash}}}, &docker));
  const ContainerRun second = own_run(solo());
  const std::vector<std::string> lines = fake.runner.run_lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(runs_before), lines.end()),
            (std::vector<std::string>{"docker inspect --format " + use_format + " torvo-solo",
                                      "docker rm -f -v torvo-solo", "docker image inspect localhost/zelk/solo:1.0",
                                      "docker context inspect --format {{.Endpoints.docker.Host}}",
                                      "attached: " + joined("docker", second.args)}));
  EXPECT_NE(second.recipe_hash, first.recipe_hash);
  const auto label = std::find(second.args.begin(), second.args.end(), "torvo.recipe=" + second.recipe_hash);
  ASSERT_NE(label, second.args.end());
  EXPECT_EQ(label->find("token"), std::string::npos);
  EXPECT_EQ(attached_runs().back().environment, (EnvPairs{{"KEY", "a"}, {"TOKEN", "second-token"}}));
}

// Two programs that make the data folder's key at the same moment use one key: the one that
// took the key's name first, so neither program's containers are made anew for the other's key.
TEST_F(StartAppTest, AKeyTheOtherProgramMadeAtTheSameMomentIsTheOneUsed) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=t\n");
  const fs::path key = settings_key_path(home.path());
  const std::string theirs(64, 'c');
  const FillRandomFn counting = fake.fill_random;
  fake.fill_random = [&](std::span<std::uint8_t> buffer) {
    if (!fs::exists(key)) {
      EXPECT_TRUE(write_file_atomically(key, theirs));
    }
    return counting(buffer);
  };
  ASSERT_TRUE(start(solo(), {}, &docker));
  EXPECT_EQ(read_file(key).value_or(""), theirs);
  EXPECT_EQ(fake.runner.run_lines().back(), "attached: " + joined("docker", own_run(solo()).args));
}

// "Its data is kept" holds only when the new container mounts every data volume the old one
// did; when inspect cannot tell, nothing is promised.
TEST_F(StartAppTest, AContainerMadeAnewSaysWhetherItKeepsItsData) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  const std::string updating = "Updating Solo to the current recipe and settings.";
  const std::pair<ScriptedRunner::Reply, std::string> cases[] = {
      {ScriptedRunner::ok("volume torvo-solo-data\nport 40123\n"), updating + " Its data is kept."},
      {ScriptedRunner::ok("volume torvo-solo-files\nport 40123\n"),
       updating + " Its recipe no longer uses the data volume torvo-solo-files: it stays, but Solo starts without "
                  "that data."},
      {ScriptedRunner::ok("volume torvo-solo-data\nvolume torvo-solo-a\nvolume torvo-solo-b\n"),
       updating + " Its recipe no longer uses the data volumes torvo-solo-a, torvo-solo-b: they stay, but Solo "
                  "starts without that data."},
      {ScriptedRunner::failed(125, "Error: no such container"), updating},
  };
  for (const auto& [reply, line] : cases) {
    fake.output.text.clear();
    fake.runner.once("podman", {"inspect", "--format", use_format}, reply);
    ASSERT_TRUE(start(solo(), {{"torvo-solo", {"exited", "0123456789abcdef"}}})) << line;
    EXPECT_TRUE(fake.output.text.starts_with(line + "\n")) << fake.output.text;
  }
}

// A port another program holds, or that is another app's, is refused before any container
// changes, with the two ways out; the port the app's own running container holds is its own.
TEST_F(StartAppTest, APortThatIsNotFreeIsRefusedBeforeAnythingChanges) {
  const std::string settings = path_to_utf8(settings_path(home.path(), "solo"));
  const std::string held = "Solo cannot use port 40999 on 127.0.0.1: another program holds it. Nothing was changed. "
                           "Stop that program, or give Solo another port: TORVO_PORT in " + settings;
  struct Case {
    const char* label;
    std::string port;
    ContainerMap containers;
    std::string inspected;  // what inspect says of the app's container now
    std::optional<std::string> refusal;
  };
  const Case cases[] = {
      {"first install", "40999", {}, "", held},
      {"moved while running", "40999", {{"torvo-solo", {"running", "0123456789abcdef"}}},
       "state running\nport 40123\n", held},
      {"stopped", "40999", {{"torvo-solo", {"exited", "<current>"}}}, "", held},
      {"another app's", "40200", {}, "",
       "Solo cannot use port 40200: it is the port of Duo. Nothing was changed. Give Solo another port: TORVO_PORT "
       "in " + settings},
      {"its own", "40999", {{"torvo-solo", {"running", "0123456789abcdef"}}}, "state running\nport 40999\n",
       std::nullopt},
      // The list was read before another start brought the app up: the runtime says it is its own.
      {"its own, up since the list", "40999", {{"torvo-solo", {"exited", "<current>"}}},
       "state running\nport 40999\n", std::nullopt},
  };
  fake.busy_ports = {40999};
  for (const Case& c : cases) {
    write_settings_file("solo", "TORVO_PORT=" + c.port + "\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
    ContainerMap containers = c.containers;
    for (auto& [name, info] : containers) {
      if (info.recipe == "<current>") info.recipe = own_run(solo()).recipe_hash;
    }
    if (!c.inspected.empty()) {
      fake.runner.once("podman", {"inspect", "--format", use_format}, ScriptedRunner::ok(c.inspected));
    }
    const std::size_t runs_before = fake.runner.runs().size();
    auto port = start(solo(), containers);
    if (!c.refusal) {
      EXPECT_TRUE(port) << c.label << ": " << port.error();
      continue;
    }
    ASSERT_FALSE(port) << c.label;
    EXPECT_EQ(port.error(), *c.refusal) << c.label;
    const std::vector<RecordedRun> runs = fake.runner.runs();
    for (std::size_t i = runs_before; i < runs.size(); ++i) {
      EXPECT_FALSE(runs[i].attached) << c.label;
      EXPECT_NE(runs[i].args.at(0), "rm") << c.label;
      EXPECT_NE(runs[i].args.at(0), "start") << c.label;
    }
  }
}

// Before a first install, the other runtime is asked whether it keeps the app: its containers
// or its data there are not made anew, empty, here.
TEST_F(StartAppTest, AnAppTheOtherRuntimeKeepsIsNotMadeAnew) {
  const std::string ways =
      "\n  To go on with the copy in Docker: stop Podman, then start Solo again.\n"
      "  To make it anew in Podman instead, remove it from Docker first (its data goes with it): ";
  list_says("docker", "torvo-solo\texited\ttorvo.recipe=ab\n");
  fake.runner.once("docker", {"volume", "inspect", "torvo-solo-data"}, ScriptedRunner::ok("[]"));
  auto both = start(solo());
  ASSERT_FALSE(both);
  EXPECT_EQ(both.error(),
            "Solo is not installed in Podman, but Docker keeps it: torvo-solo, torvo-solo-data. The Zelk uses Podman "
            "while it answers, so a start here would make Solo anew, without that data. Nothing was changed." +
                ways + "docker rm -f torvo-solo, then docker volume rm torvo-solo-data");
  EXPECT_TRUE(attached_runs().empty());
  EXPECT_EQ(fake.output.text, "");

  // Only its data is there; on Windows Podman runs in its machine, which is how it stops.
  list_says("docker", "");
  fake.runner.once("docker", {"volume", "inspect", "torvo-solo-data"}, ScriptedRunner::ok("[]"));
  fake.platform = "windows";
  auto data = start(solo());
  ASSERT_FALSE(data);
  EXPECT_NE(data.error().find("Docker keeps it: torvo-solo-data. "), std::string::npos) << data.error();
  EXPECT_NE(data.error().find("stop Podman (podman machine stop), then start Solo again"), std::string::npos)
      << data.error();
  EXPECT_TRUE(data.error().ends_with("docker volume rm torvo-solo-data")) << data.error();
  EXPECT_TRUE(attached_runs().empty());

  // Nothing of it there: the first install goes ahead.
  fake.platform = "linux";
  EXPECT_TRUE(start(solo()));
}

TEST_F(StartAppTest, HelpersComeFirstAndAfterAroundTheAppOnTheirNetwork) {
  ASSERT_TRUE(start(duo(), {}, &docker));
  EXPECT_EQ(fake.output.text,
            "Installing Duo's helper \"db\" with Docker ...\n"
            "Installing Duo with Docker ...\n"
            "Installing Duo's helper \"tail\" with Docker ...\n"
            "Waiting for Duo to answer on port 40200 ...\n"
            "Duo is ready: http://127.0.0.1:40200/\n");
  std::vector<std::string> lines = fake.runner.run_lines();
  const std::vector<std::string> other = other_runtime_lines(docker, duo());
  ASSERT_EQ(lines.size(), other.size() + 6u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(other.size())), other);
  lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(other.size()));
  EXPECT_EQ(lines[0], "docker network inspect torvo-duo_default");
  EXPECT_TRUE(lines[1].starts_with("attached: docker run -d --name torvo-duo-db ")) << lines[1];
  EXPECT_EQ(lines[2], "docker network inspect torvo-duo_default");
  EXPECT_TRUE(lines[3].starts_with("attached: docker run -d --name torvo-duo ")) << lines[3];
  EXPECT_EQ(lines[4], "docker network inspect torvo-duo_default");
  EXPECT_TRUE(lines[5].starts_with("attached: docker run -d --name torvo-duo-tail ")) << lines[5];
  const std::string secret = setting_value(settings_text("duo"), "DUO_SECRET").value();
  const auto attached = attached_runs();
  EXPECT_EQ(attached[0].environment, (EnvPairs{{"PASSWORD", secret}}));
  EXPECT_EQ(attached[1].environment, (EnvPairs{{"DB_PASSWORD", secret}}));
  EXPECT_TRUE(attached[2].environment.empty());
}

TEST_F(StartAppTest, AMissingNetworkIsCreatedAndAFailedCreateEndsTheCall) {
  fake.runner.on("podman", {"network", "inspect"}, ScriptedRunner::failed(125, "Error: network not found"));
  fake.runner.on("podman", {"network", "create"}, ScriptedRunner::failed(125, "Error: no space\n\n"));
  auto port = start(duo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "\"podman network create torvo-duo_default\" failed.\n    It said: Error: no space");
  std::vector<std::string> expected = other_runtime_lines(podman, duo());
  expected.insert(expected.end(),
                  {"podman network inspect torvo-duo_default", "podman network create torvo-duo_default"});
  EXPECT_EQ(fake.runner.run_lines(), expected);
}

TEST_F(StartAppTest, AFailedHelperRunNamesTheHelper) {
  fake.runner.on("podman", {"run"}, ScriptedRunner::failed(125));
  auto port = start(duo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "Duo's helper \"db\" could not be started: \"podman run\" failed (exit code 125); see the output above.");
}

TEST(ExistenceQuery, PodmanSaysExistsAndDockerInspects) {
  EXPECT_EQ(existence_query("podman", "image", "a/b:1"), (std::vector<std::string>{"image", "exists", "a/b:1"}));
  EXPECT_EQ(existence_query("docker", "volume", "torvo-x-data"),
            (std::vector<std::string>{"volume", "inspect", "torvo-x-data"}));
}

TEST_F(StartAppTest, AFailedRunTriesTheFallbackImageOnceWhenNoContainerWasMade) {
  fake.runner.once("docker", {"run"}, ScriptedRunner::failed(125));
  ASSERT_TRUE(start(solo(), {}, &docker));
  EXPECT_EQ(fake.output.text,
            "Installing Solo with Docker; it takes about 1.0 GB on disk ...\n"
            "The image did not arrive from localhost. Trying mirror.example/zelk/solo:1.0 ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  const auto attached = attached_runs();
  ASSERT_EQ(attached.size(), 2u);
  EXPECT_EQ(attached[0].args.back(), "localhost/zelk/solo:1.0");
  EXPECT_EQ(attached[1].args.back(), "mirror.example/zelk/solo:1.0");
  EXPECT_EQ(std::vector<std::string>(attached[0].args.begin(), attached[0].args.end() - 1),
            std::vector<std::string>(attached[1].args.begin(), attached[1].args.end() - 1));
  EXPECT_EQ(attached[1].environment, attached[0].environment);
}

TEST_F(StartAppTest, NoFallbackRunWhenTheFailedRunLeftAContainer) {
  fake.runner.on("docker", {"run"}, ScriptedRunner::failed(126));
  list_says("docker", "torvo-solo\tcreated\ttorvo.recipe=00\n");
  auto port = start(solo(), {}, &docker);
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Solo could not be started: \"docker run\" failed (exit code 126); see the output above.");
  EXPECT_EQ(attached_runs().size(), 1u);
}

TEST_F(StartAppTest, TheFallbackRunsResultIsFinal) {
  fake.runner.on("docker", {"run"}, ScriptedRunner::failed(125));
  auto port = start(solo(), {}, &docker);
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Solo could not be started: \"docker run\" failed (exit code 125); see the output above.");
  EXPECT_EQ(attached_runs().size(), 2u);
}

TEST_F(StartAppTest, PodmanWithoutItsApiLeavesTheImageToTheRun) {
  fake.runner.on("podman", {"info"}, ScriptedRunner::ok("false unix:///run/podman/podman.sock\n"));
  ASSERT_TRUE(start(solo()));
  EXPECT_EQ(attached_runs().at(0).args.back(), "localhost/zelk/solo:1.0");
}

TEST_F(StartAppTest, PullsThatFailTryTheFallbackSilentlyAndLeaveTheImageToTheRun) {
  // An endpoint where nothing listens: both pulls fail without a word of their own.
  const std::string endpoint = path_to_utf8(home.path() / "nothing.sock");
  fake.runner.on("podman", {"info"}, ScriptedRunner::ok("true unix://" + endpoint + "\n"));
  ASSERT_TRUE(start(solo()));
  EXPECT_EQ(fake.output.text,
            "Installing Solo with Podman; it takes about 1.0 GB on disk ...\n"
            "The image did not arrive from localhost. Trying mirror.example/zelk/solo:1.0 ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n");
  EXPECT_EQ(attached_runs().at(0).args.back(), "localhost/zelk/solo:1.0");
}

TEST_F(StartAppTest, DockerIsAskedForTheImageOnlyByTheDiskCheckAndWithInspect) {
  fake.runner.on("docker", {"image", "inspect"}, ScriptedRunner::ok());  // no disk check then
  ASSERT_TRUE(start(solo(), {}, &docker));
  std::vector<std::string> expected = other_runtime_lines(docker, solo());
  expected.insert(expected.end(), {"docker image inspect localhost/zelk/solo:1.0",
                                   "docker image inspect localhost/zelk/solo:1.0",
                                   "attached: " + joined("docker", own_run(solo()).args)});
  EXPECT_EQ(fake.runner.run_lines(), expected);
}

TEST_F(StartAppTest, AnAppWithCommandWordsIsNeverPulled) {
  ASSERT_TRUE(start(duo()));
  for (const auto& line : fake.runner.run_lines()) {
    EXPECT_FALSE(line.starts_with("podman info")) << line;
    EXPECT_FALSE(line.starts_with("podman image")) << line;
  }
}

// Docker daemons before API 1.44 take one network per run: a container on several networks is
// created on the first, connected to the others, then started.
const char* const linked_text = R"(services:
  linked:
    image: localhost/zelk/linked:1.0
    environment:
      TOKEN: ${LINK_TOKEN}
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    networks:
      - solo
    depends_on:
      - side
  side:
    image: localhost/zelk/side:1.0
networks:
  solo:
    name: torvo-solo
    external: true
x-zelk:
  format: 2
  id: linked
  name: Linked
  category: Tests
  summary: Two networks
  port: 40500
  ready: /
  secrets:
    LINK_TOKEN: 16
)";

TEST_F(StartAppTest, DockerMakesAContainerOnSeveralNetworksInThreeSteps) {
  const Recipe linked = read_test_recipe(linked_text);
  ASSERT_TRUE(start(linked, {}, &docker));
  const ContainerRun run = own_run(linked);
  std::vector<std::string> create{"create", "--name", "torvo-linked", "--restart", "unless-stopped", "--network",
                                  "torvo-solo"};
  create.insert(create.end(), run.args.begin() + 10, run.args.end());
  // The alias is the app's name on its helpers' network only, not on the one of the app it uses.
  EXPECT_EQ(run.args[9], "torvo-linked_default:alias=linked");
  EXPECT_EQ(create[7], "-p");
  const std::vector<std::string> lines = fake.runner.run_lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
            (std::vector<std::string>{"attached: " + joined("docker", create),
                                      "docker network connect --alias linked torvo-linked_default torvo-linked",
                                      "docker start torvo-linked"}));
  EXPECT_EQ(attached_runs().back().environment,
            (EnvPairs{{"TOKEN", setting_value(settings_text("linked"), "LINK_TOKEN").value()}}));
}

TEST_F(StartAppTest, AContainerThatCouldNotBeConnectedIsRemovedAgain) {
  const Recipe linked = read_test_recipe(linked_text);
  fake.runner.on("docker", {"network", "connect"}, ScriptedRunner::failed(1, "Error: no such network"));
  auto port = start(linked, {}, &docker);
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "\"docker network connect --alias linked torvo-linked_default torvo-linked\" failed.\n"
            "    It said: Error: no such network");
  EXPECT_EQ(fake.runner.run_lines().back(), "docker rm -f -v torvo-linked");
}

TEST_F(StartAppTest, PodmanMakesAContainerOnSeveralNetworksInOneRun) {
  const Recipe linked = read_test_recipe(linked_text);
  ASSERT_TRUE(start(linked));
  EXPECT_EQ(fake.runner.run_lines().back(), "attached: " + joined("podman", own_run(linked).args));
}

// ---- waiting until the app answers ---------------------------------------------------

TEST_F(StartAppTest, AnAppAloneWhoseContainerExitsFailsAtTheFifthAttempt) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  list_says("podman", "torvo-solo\texited\ttorvo.recipe:1\n");
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Solo stopped right after it was started. See: zelk logs solo");
  EXPECT_EQ(fake.probes.size(), 5u);
  EXPECT_EQ(fake.sleeps, std::vector<std::chrono::nanoseconds>(4, seconds(2)));
  EXPECT_FALSE(fs::exists(running_marker_path(home.path(), "solo")));
}

// The runtime would restart a container that ends at once for ever: once the wait finds the app
// down, its containers that exist are stopped and kept (their logs stay readable). Where there
// is no "zelk logs" (the window), the message quotes the last line the container wrote.
struct FoundDownCase {
  const char* label;
  std::size_t recipe;  // 0 Solo, 1 Duo
  const ContainerRuntime* runtime;
  bool window;
  const char* listed;  // what every list says while waiting
  std::vector<std::pair<std::vector<std::string>, ScriptedRunner::Reply>> replies;  // once each, in order
  std::vector<std::string> after_list;  // the runs after the list that gave up
  std::string message;
};

TEST_F(StartAppTest, AnAppFoundDownIsStoppedAndKeptAndTheWindowQuotesItsLastLogLine) {
  using Runs = std::vector<std::string>;
  const std::string look = " inspect --format {{.State.Status}} ";
  const std::vector<std::string> state_look{"inspect", "--format", "{{.State.Status}}"};
  const std::string restarts = " inspect --format {{.RestartCount}} ";
  const std::string logs = " logs --timestamps --tail 20 ";
  const std::string solo_down = "Solo stopped right after it was started. See: zelk logs solo";
  const FoundDownCase cases[] = {
      {"console", 0, &podman, false, "torvo-solo\texited\t\n",
       {{state_look, ScriptedRunner::ok("exited\n")}},
       Runs{"podman" + restarts + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo"}, solo_down},
      // Podman's stop finds a container between two of its restarts stopped already and leaves
      // it to restart: stopped again until it stays down.
      {"between restarts", 0, &podman, false, "torvo-solo\tExited (3) 1 second ago\t\n",
       {{state_look, ScriptedRunner::ok("stopped\n")}, {state_look, ScriptedRunner::ok("running\n")},
        {state_look, ScriptedRunner::ok("exited\n")}},
       Runs{"podman" + restarts + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo",
            "podman stop torvo-solo",
            "podman" + look + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo"},
       solo_down},
      // The output's last line is later than the errors' (Podman leaves out the trailing zeros
      // of a time's fraction of a second); blank lines do not count, nor do terminal colours.
      {"window", 0, &podman, true, "torvo-solo\texited\t\n",
       {{state_look, ScriptedRunner::ok("exited\n")},
        {{"logs"}, RunOutput{"2024-05-01T10:00:00Z Reading /data/config\n"
                             "2024-05-01T10:00:00.12Z \x1b[1;31mGiving up\x1b[0m after 3 tries\n"
                             "2024-05-01T10:00:00.13Z   \n",
                             "2024-05-01T10:00:00.01Z warning: no cache\n"
                             "2024-05-01T10:00:00.1Z Error: the database did not answer\n",
                             0}}},
       Runs{"podman" + restarts + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo",
            "podman" + logs + "torvo-solo"},
       solo_down + "\n    It said: Giving up after 3 tries"},
      {"window, errors last", 0, &docker, true, "torvo-solo\trestarting\t\n",
       {{state_look, ScriptedRunner::ok("exited\n")},
        {{"logs"}, RunOutput{"2024-05-01T10:00:00.100000000Z starting\n",
                             "2024-05-01T10:00:00.200000000Z Error: SECRET is not set\r\n"
                             "2024-05-01T10:00:00.300000000Z \n",
                             0}}},
       Runs{"docker" + restarts + "torvo-solo", "docker stop torvo-solo", "docker" + look + "torvo-solo",
            "docker" + logs + "torvo-solo"},
       solo_down + "\n    It said: Error: SECRET is not set"},
      // A stop the runtime refuses is tried again while the container may come back; one that
      // gets no answer is not. Neither, nor logs that cannot be read, change the message.
      {"failed stops", 0, &podman, true, "torvo-solo\texited\t\n",
       {{{"stop"}, ScriptedRunner::failed(125, "Error: container state improper\n")},
        {state_look, ScriptedRunner::ok("running\n")},
        {{"stop"}, std::unexpected(RunError::timed_out())},
        {{"logs"}, ScriptedRunner::failed(125, "Error: no logs\n")}},
       Runs{"podman" + restarts + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo",
            "podman stop torvo-solo",
            "podman" + logs + "torvo-solo"},
       solo_down},
      // Every container of the app that exists is stopped; the quoted line is the helper's.
      {"helper", 1, &docker, true, "torvo-duo\trunning\t\ntorvo-duo-db\trestarting\t\ntorvo-duo-tail\trunning\t\n",
       {{state_look, ScriptedRunner::ok("exited\n")}, {state_look, ScriptedRunner::ok("exited\n")},
        {state_look, ScriptedRunner::ok("exited\n")},
        {{"logs"}, ScriptedRunner::ok("2024-05-01T10:00:00.000000001Z FATAL: data folder is not empty\n")}},
       Runs{"docker" + restarts + "torvo-duo torvo-duo-db torvo-duo-tail", "docker stop torvo-duo",
            "docker" + look + "torvo-duo", "docker stop torvo-duo-db", "docker" + look + "torvo-duo-db",
            "docker stop torvo-duo-tail", "docker" + look + "torvo-duo-tail", "docker" + logs + "torvo-duo-db"},
       "Duo's helper \"db\" does not stay running. See: zelk logs duo db\n"
       "    It said: FATAL: data folder is not empty"},
      // One that its runtime restarts in the time between two looks is found by its restart
      // count: twice since this start made it is enough.
      {"keeps dying", 0, &podman, false, "torvo-solo\trunning\t\n",
       {{{"inspect", "--format", "{{.RestartCount}}"}, ScriptedRunner::ok("2\n")},
        {state_look, ScriptedRunner::ok("exited\n")}},
       Runs{"podman" + restarts + "torvo-solo", "podman stop torvo-solo", "podman" + look + "torvo-solo"},
       "Solo does not stay running. See: zelk logs solo"},
      {"a helper keeps dying", 1, &docker, false,
       "torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\ntorvo-duo-tail\trunning\t\n",
       {{{"inspect", "--format", "{{.RestartCount}}"}, ScriptedRunner::ok("1\n0\n3\n")},
        {state_look, ScriptedRunner::ok("exited\n")}, {state_look, ScriptedRunner::ok("exited\n")},
        {state_look, ScriptedRunner::ok("exited\n")}},
       Runs{"docker" + restarts + "torvo-duo torvo-duo-db torvo-duo-tail", "docker stop torvo-duo",
            "docker" + look + "torvo-duo", "docker stop torvo-duo-db", "docker" + look + "torvo-duo-db",
            "docker stop torvo-duo-tail", "docker" + look + "torvo-duo-tail"},
       "Duo's helper \"tail\" does not stay running. See: zelk logs duo tail"},
      // Containers that went away (another command or the runtime's own removed them) are not
      // the app's fault: nothing is stopped, and there are no logs to quote, in the console or
      // in the window.
      {"went away", 0, &podman, false, "", {}, Runs{},
       "The containers of Solo went away while it started: another command or program removed them. "
       "Start it again to make them anew."},
      {"a helper went away, window", 1, &docker, true, "torvo-duo\trunning\t\ntorvo-duo-tail\trunning\t\n", {},
       Runs{},
       "The containers of Duo went away while it started: another command or program removed them. "
       "Start it again to make them anew."},
  };
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  for (const FoundDownCase& c : cases) {
    const std::string rt(c.runtime->command);
    list_says(rt, c.listed);
    list_says(rt == "podman" ? "docker" : "podman", "");
    for (const auto& [prefix, reply] : c.replies) fake.runner.once(rt, prefix, reply);
    fake.runner.on(rt, {"stop"}, ScriptedRunner::ok());
    const std::size_t runs_before = fake.runner.runs().size();
    CommandContext ctx = fake.context();
    ctx.quote_app_logs = c.window;

    auto port = start_app(ctx, *c.runtime, recipes[c.recipe], {});
    ASSERT_FALSE(port) << c.label;
    EXPECT_EQ(port.error(), c.message) << c.label;
    const std::vector<RecordedRun> runs = fake.runner.runs();
    std::size_t last_list = runs_before;
    for (std::size_t i = runs_before; i < runs.size(); ++i) last_list = runs[i].args.at(0) == "ps" ? i : last_list;
    const std::vector<std::string> lines = fake.runner.run_lines();
    EXPECT_EQ(Runs(lines.begin() + static_cast<std::ptrdiff_t>(last_list) + 1, lines.end()), c.after_list) << c.label;
    for (std::size_t i = last_list; i < runs.size(); ++i) {
      if (runs[i].args.at(0) == "stop") {
        EXPECT_EQ(runs[i].limit, seconds(120)) << c.label;
      }
    }
    EXPECT_FALSE(fs::exists(running_marker_path(home.path(), recipes[c.recipe].id))) << c.label;
  }
}

// A repeated stop ends after 20 rounds, and within its time in all however long each takes;
// a line says first what is waited for.
TEST_F(StartAppTest, TheRepeatedStopOfAnAppFoundDownIsBounded) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  list_says("podman", "torvo-solo\texited\t\n");
  fake.runner.on("podman", {"stop"}, ScriptedRunner::ok());
  // Up again after each stop, more often than the stop is made.
  fake.runner.on("podman", {"inspect", "--format", "{{.State.Status}}"}, ScriptedRunner::ok("exited\n"));
  for (int round = 0; round < 25; ++round) {
    fake.runner.once("podman", {"inspect", "--format", "{{.State.Status}}"}, ScriptedRunner::ok("running\n"));
  }
  auto stop_limits = [&](std::size_t from) {
    std::vector<std::chrono::nanoseconds> limits;
    const std::vector<RecordedRun> runs = fake.runner.runs();
    for (std::size_t i = from; i < runs.size(); ++i) {
      if (runs[i].args.at(0) == "stop") limits.push_back(runs[i].limit);
    }
    return limits;
  };
  ASSERT_FALSE(start(solo()));
  EXPECT_EQ(stop_limits(0), std::vector<std::chrono::nanoseconds>(20, seconds(120)));
  EXPECT_NE(fake.output.text.find("Waiting for Solo to answer on port 40123 ...\n"
                                  "Stopping Solo so that Podman does not start it again and again ...\n"),
            std::string::npos)
      << fake.output.text;

  // Each reading of the clock finds 25 seconds more gone: the whole stop keeps to 120 seconds.
  const std::size_t runs_before = fake.runner.runs().size();
  fake.now = [this] { return fake.time += seconds(25); };
  ASSERT_FALSE(start(solo()));
  EXPECT_EQ(stop_limits(runs_before), (std::vector<std::chrono::nanoseconds>{seconds(95), seconds(45)}));
}

// Probes that wait long for an answer do not put the look at the containers off: it comes at
// the latest 10 seconds after the last one.
TEST_F(StartAppTest, SlowProbesDoNotPutOffTheLookAtTheContainers) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  fake.now = [this] { return fake.time += seconds(6); };
  list_says("podman", "torvo-solo\texited\t\n");
  fake.runner.on("podman", {"stop"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"inspect", "--format", "{{.State.Status}}"}, ScriptedRunner::ok("exited\n"));
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Solo stopped right after it was started. See: zelk logs solo");
  EXPECT_EQ(fake.probes.size(), 2u);
}

TEST_F(StartAppTest, AFailedListWhileWaitingJudgesNothing) {
  int probes = 0;
  fake.probe_answer = [&](std::uint16_t, std::string_view) -> std::optional<std::uint16_t> {
    return ++probes == 7 ? std::optional<std::uint16_t>(204) : std::nullopt;
  };
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::timed_out()));
  EXPECT_TRUE(start(solo()));
  EXPECT_EQ(fake.sleeps.size(), 6u);
}

TEST_F(StartAppTest, AHelperDownOnceIsForgiven) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  const std::string all_run = "torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\ntorvo-duo-tail\trunning\t\n";
  const std::string db_down = "torvo-duo\trunning\t\ntorvo-duo-db\texited\t\ntorvo-duo-tail\trunning\t\n";
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(db_down));   // check 5
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(all_run));   // check 10
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(db_down));   // check 15
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(db_down));   // check 20
  auto port = start(duo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Duo's helper \"db\" does not stay running. See: zelk logs duo db");
  EXPECT_EQ(fake.probes.size(), 20u);
}

TEST_F(StartAppTest, AnAppWithHelpersFailsWhenTwoChecksInARowFindItDown) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  list_says("podman", "torvo-duo\texited\t\ntorvo-duo-db\trunning\t\ntorvo-duo-tail\trunning\t\n");
  auto port = start(duo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Duo does not stay running. See: zelk logs duo");
  EXPECT_EQ(fake.probes.size(), 10u);
}

TEST_F(StartAppTest, AFailedListBetweenTwoFindingsKeepsTheEarlierOne) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  const std::string tail_down = "torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\ntorvo-duo-tail\texited\t\n";
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(tail_down));
  fake.runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.once("podman", {"ps"}, ScriptedRunner::ok(tail_down));
  auto port = start(duo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(), "Duo's helper \"tail\" does not stay running. See: zelk logs duo tail");
  EXPECT_EQ(fake.probes.size(), 15u);
}

TEST_F(StartAppTest, AnAppThatNeverAnswersGivesUpAfter120AttemptsTwoSecondsApart) {
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(503); };
  list_says("podman", "torvo-solo\tUp 3 seconds ago\t\n");
  auto port = start(solo());
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "Solo was started but did not answer on http://127.0.0.1:40123/health within 240 seconds. "
            "See: zelk logs solo");
  EXPECT_EQ(fake.probes.size(), 120u);
  EXPECT_EQ(fake.sleeps, std::vector<std::chrono::nanoseconds>(120, seconds(2)));
  std::size_t lists = 0;
  for (const auto& line : fake.runner.run_lines()) lists += line.starts_with("podman ps") ? 1 : 0;
  EXPECT_EQ(lists, 24u);
}

// ---- image_registry and container_label --------------------------------------------------

TEST(ImageRegistry, IsTheTextBeforeTheFirstSlash) {
  EXPECT_EQ(image_registry("docker.n8n.io/n8nio/n8n:2.40.7"), "docker.n8n.io");
  EXPECT_EQ(image_registry("127.0.0.1:5000/zelk/bb:1.0"), "127.0.0.1:5000");
  EXPECT_EQ(image_registry("busybox:1.36"), "busybox:1.36");
}

TEST(ContainerLabel, NamesTheAppOrItsHelper) {
  Recipe recipe;
  recipe.name = "Gitea";
  EXPECT_EQ(container_label(recipe, std::nullopt), "Gitea");
  EXPECT_EQ(container_label(recipe, std::string("db")), "Gitea's helper \"db\"");
}

// ---- the apps an app uses ----------------------------------------------------------------

struct StartWithUsedTest : StartAppTest {
  std::expected<std::uint16_t, std::string> start_user(const Recipe& user, const ContainerMap& containers = {}) {
    CommandContext ctx = fake.context();
    return start_app_with_used(ctx, docker, user, containers);
  }
};

TEST_F(StartWithUsedTest, AUsedAppIsStartedFirstAndAMissingOneOnlyReported) {
  ASSERT_TRUE(start_user(recipes[2]));
  EXPECT_EQ(fake.output.text,
            "User uses Solo. Starting Solo first ...\n"
            "Installing Solo with Docker; it takes about 1.0 GB on disk ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n"
            "User uses the app \"ghost\", which is not on this Zelk. It starts without it.\n"
            "Installing User with Docker ...\n"
            "Waiting for User to answer on port 40300 ...\n"
            "User is ready: http://127.0.0.1:40300/\n");
}

TEST_F(StartWithUsedTest, AReadyUsedAppIsLeftAlone) {
  write_settings_file("solo", "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n");
  ContainerMap containers{{"torvo-solo", {"running", own_run(solo()).recipe_hash}}};
  ASSERT_TRUE(start_user(recipes[2], containers));
  EXPECT_EQ(fake.output.text.find("Solo"), std::string::npos) << fake.output.text;
}

TEST_F(StartWithUsedTest, StartsUsedFalseNeverStartsThemButReadsTheirState) {
  const Recipe user = read_test_recipe(user_recipe_text("false"));
  ContainerMap containers{{"torvo-solo", {"running", "00"}}};
  ASSERT_TRUE(start_user(user, containers));
  EXPECT_EQ(fake.output.text.find("Starting Solo"), std::string::npos);
  ASSERT_FALSE(fake.probes.empty());
  EXPECT_EQ(fake.probes.front(), (std::pair<std::uint16_t, std::string>{40123, "/health"}));
}

TEST_F(StartWithUsedTest, AUsedAppThatFailsStopsTheApp) {
  fake.runner.on("docker", {"run", "-d", "--name", "torvo-solo"}, ScriptedRunner::failed(125));
  list_says("docker", "torvo-solo\tcreated\t\n");
  auto port = start_user(recipes[2]);
  ASSERT_FALSE(port);
  EXPECT_EQ(port.error(),
            "User uses Solo, which could not be started. Solo could not be started: \"docker run\" failed "
            "(exit code 125); see the output above.");
  for (const auto& line : fake.runner.run_lines()) EXPECT_EQ(line.find("torvo-user"), std::string::npos);
}

}  // namespace
}  // namespace zelk
