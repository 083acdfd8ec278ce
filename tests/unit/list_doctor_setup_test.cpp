#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "envfile.h"
#include "platform.h"
#include "probes_in_flight.h"
#include "test_context.h"
#include "test_folder.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

const std::string ps_format = "{{.Names}}\t{{.State}}\t{{.Labels}}";
const std::string podman_hint = " Start it with: podman machine start (the first time: podman machine init)";

Recipe app(std::string id, std::uint16_t port, std::vector<std::string> helpers = {}, bool built_in = true) {
  Recipe recipe;
  recipe.id = id;
  recipe.name = "Name of " + id;
  recipe.container = "torvo-" + id;
  recipe.port = port;
  recipe.ready = "/ready";
  recipe.open = "/";
  recipe.built_in = built_in;
  for (const std::string& helper : helpers) {
    RecipeService service;
    service.name = helper;
    service.container = "torvo-" + id + "-" + helper;
    recipe.helpers.push_back(service);
  }
  return recipe;
}

void write_text(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// ---------------------------------------------------------------- list

TEST(ListCommand, ShowsEveryStateWithItsAddress) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000, {"db"}), app("webui", 8080),
                              app("ollama", 11434), app("a-very-long-id-x", 4000)};
  recipes[2].open = "/chat";
  write_text(settings_path(home.path(), "gitea"), "# Settings\nTORVO_PORT=3999\n");
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"},
                 ScriptedRunner::ok("torvo-n8n\tUp 2 minutes ago\tmap[torvo.recipe:aa]\n"
                                    "torvo-gitea\trunning\tmap[]\n"
                                    "torvo-webui\trunning\tmap[]\n"
                                    "torvo-ollama\tExited (0) 3 seconds ago\tmap[]\n"
                                    "torvo-a-very-long-id-x\tcreated\tmap[]\n"));
  fake.probe_answer = [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    if (port == 5678) return 200;
    return std::nullopt;
  };
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"list"}));
  EXPECT_EQ(fake.output.text,
            "APP          STATE          ADDRESS\n"
            "n8n          ready          http://127.0.0.1:5678/\n"
            "gitea        partly running http://127.0.0.1:3999/\n"
            "webui        starting       http://127.0.0.1:8080/chat\n"
            "ollama       exited         http://127.0.0.1:11434/\n"
            "a-very-long-id-x created        http://127.0.0.1:4000/\n");
  // The two probes run side by side, so they are made in either order.
  std::vector<std::pair<std::uint16_t, std::string>> probes = fake.probes;
  std::sort(probes.begin(), probes.end());
  EXPECT_EQ(probes, (std::vector<std::pair<std::uint16_t, std::string>>{{5678, "/ready"}, {8080, "/ready"}}));
  EXPECT_EQ(fake.runner.runs().size(), 1u);
}

TEST(ListCommand, ProbesTheRunningAppsSideBySide) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000), app("webui", 8080)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"},
                 ScriptedRunner::ok("torvo-n8n\trunning\t\ntorvo-gitea\trunning\t\ntorvo-webui\trunning\t\n"));
  ProbesInFlight late(3, [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    if (port == 3000) return 200;
    return std::nullopt;
  });
  fake.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"list"}));
  EXPECT_EQ(fake.output.text,
            "APP          STATE          ADDRESS\n"
            "n8n          starting       http://127.0.0.1:5678/\n"
            "gitea        ready          http://127.0.0.1:3000/\n"
            "webui        starting       http://127.0.0.1:8080/\n");
  EXPECT_TRUE(late.met()) << "the apps were probed one after another";
}

TEST(ListCommand, NotInstalledAppsAndDocker) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::ok("other\trunning\ttorvo.recipe=1\n"));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"ls"}));
  EXPECT_EQ(fake.output.text,
            "APP          STATE          ADDRESS\n"
            "n8n          not installed  http://127.0.0.1:5678/\n");
}

TEST(ListCommand, WithoutRuntimeEveryStateIsUnknownAndTheMessageFollows) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000)};
  write_text(settings_path(home.path(), "n8n"), "TORVO_PORT=6000\n");
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"status"}));
  EXPECT_EQ(fake.output.text,
            "APP          STATE          ADDRESS\n"
            "n8n          unknown        http://127.0.0.1:6000/\n"
            "gitea        unknown        http://127.0.0.1:3000/\n"
            "\n"
            "No usable container runtime was found.\n"
            "  Podman is not installed.\n"
            "  Docker is not installed.\n"
            "Set it up with: zelk setup\n");
  EXPECT_TRUE(fake.probes.empty());
}

TEST(ListCommand, PaddingCountsCharactersNotBytes) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-n8n\t\xc3\xa9tat\t\n"));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"list"}));
  EXPECT_EQ(fake.output.text,
            "APP          STATE          ADDRESS\n"
            "n8n          \xc3\xa9tat           http://127.0.0.1:5678/\n");
}

// ---------------------------------------------------------------- doctor

TEST(DoctorCommand, NamesTheDataTheRecipesAndTheRuntime) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000), app("webui", 8080), app("ollama", 11434)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::ok(""));
  fake.runner.on("docker", {"--version"}, ScriptedRunner::ok("  Docker version 28.2.2, build e6534b4\n"));
  fake.runner.on("docker", {"version"}, ScriptedRunner::ok("20.10.24+dfsg1\n"));
  fake.runner.on("docker", {"info"}, ScriptedRunner::ok("[name=rootless name=seccomp,profile=default]\n"));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"doctor"}));
  // The version is the server's, which runs the apps, not the client's.
  EXPECT_EQ(fake.output.text, "Data:    " + path_to_utf8(home.path()) +
                                  "\n"
                                  "Recipes: 4 built in\n"
                                  "Runtime: Docker (Docker Engine 20.10.24+dfsg1)\n");
  const auto runs = fake.runner.runs();
  ASSERT_EQ(runs.size(), 5u);
  EXPECT_EQ(runs[2].args, (std::vector<std::string>{"version", "--format", "{{.Server.Version}}"}));
  EXPECT_EQ(runs[2].limit, std::chrono::seconds(15));
}

// Podman that is there but does not answer is said (backups need it), and so is a runtime run as
// root, with what that exposes.
TEST(DoctorCommand, SaysWhatPodmanAndARuntimeRunAsRootMean) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125, "Error: cannot connect to Podman\n"));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::ok(""));
  fake.runner.on("docker", {"version"}, ScriptedRunner::ok("20.10.24+dfsg1\n"));
  fake.runner.on("docker", {"info"}, ScriptedRunner::ok("[name=seccomp,profile=default]\n"));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"doctor"}));
  EXPECT_EQ(fake.output.text,
            "Data:    " + path_to_utf8(home.path()) + "\nRecipes: 1 built in\n"
            "Runtime: Docker (Docker Engine 20.10.24+dfsg1)\n"
            "Podman:  installed, but it does not answer, and backups need it.\n"
            "    It said: Error: cannot connect to Podman\n"
            "Docker runs as root here. Then every app's container, helpers included, answers every user of this "
            "computer at its address on the runtime's network, with what it holds (its data and secrets).\n"
            "To keep the apps to yourself, run Docker rootless (see "
            "https://docs.docker.com/engine/security/rootless/), or use Podman as your own user.\n");
}

TEST(DoctorCommand, CountsAddedRecipesAndKeepsAFailedVersion) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000), app("webui", 8080), app("ollama", 11434),
                              app("mine", 4000, {}, false)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  fake.runner.on("podman", {"--version"}, std::unexpected(RunError::timed_out()));
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"doctor"}));
  EXPECT_EQ(fake.output.text, "Data:    " + path_to_utf8(home.path()) +
                                  "\n"
                                  "Recipes: 4 built in, 1 added on this computer\n"
                                  "Runtime: Podman ()\n");
}

TEST(DoctorCommand, VersionOutputIsKeptWhateverTheExitCode) {
  TestFolder home;
  TestContext fake(home.path());
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  fake.runner.on("podman", {"--version"}, RunOutput{"podman version 4.3.1\n", "warning\n", 3});
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"doctor"}));
  EXPECT_TRUE(fake.output.text.ends_with("Recipes: 0 built in\nRuntime: Podman (podman version 4.3.1)\n"));
}

TEST(DoctorCommand, WithoutRuntimeFailsAfterTwoLines) {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678)};
  TestContext fake(home.path(), recipes);
  fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125, "Error: no connection\n"));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  CommandContext ctx = fake.context();
  auto result = run_command(ctx, {"doctor"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "No usable container runtime was found.\n"
            "  Podman is installed but not running." + podman_hint + "\n    It said: Error: no connection\n"
            "  Docker is not installed.\n"
            "Start it and try again.");
  EXPECT_EQ(fake.output.text, "Data:    " + path_to_utf8(home.path()) + "\nRecipes: 1 built in\n");
}

// ---------------------------------------------------------------- setup

const std::vector<std::string> winget_line{
    "attached: winget install --exact --id RedHat.Podman --accept-source-agreements --accept-package-agreements"};
const std::string installing =
    "Installing Podman. This accepts the terms of the installer's package lists and of Podman for you. Your "
    "computer may ask for permission ...\n";
const std::string wsl_advice =
    "\n  Windows' Linux subsystem (WSL), which Podman needs, is not ready. Open PowerShell as administrator and "
    "run: wsl --install\n  Then restart the computer and run \"zelk setup\" again, or press \"Set up Podman\" in "
    "the Zelk window.";

struct SetupFixture {
  TestFolder home;
  std::vector<Recipe> recipes{app("n8n", 5678), app("gitea", 3000)};
  TestContext fake{home.path(), recipes};
  CommandResult run(std::string platform) {
    fake.platform = std::move(platform);
    CommandContext ctx = fake.context();
    return run_command(ctx, {"setup"});
  }
};

TEST(SetupCommand, ARunningRuntimeIsOnlyReported) {
  for (const char* platform : {"linux", "windows"}) {
    SetupFixture setup;
    setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
    setup.fake.runner.on("docker", {"ps"}, ScriptedRunner::ok(""));
    setup.fake.runner.on("docker", {"info"}, ScriptedRunner::ok("[name=seccomp,profile=default]\n"));
    ASSERT_TRUE(setup.run(platform));
    // Only on Linux do the containers' networks lie open to the computer's other users.
    EXPECT_EQ(setup.fake.output.text,
              std::string(platform) == "linux"
                  ? "Docker is running. Nothing to set up.\n"
                    "Docker runs as root here. Then every app's container, helpers included, answers every user of "
                    "this computer at its address on the runtime's network, with what it holds (its data and "
                    "secrets).\n"
                    "To keep the apps to yourself, run Docker rootless (see "
                    "https://docs.docker.com/engine/security/rootless/), or use Podman as your own user.\n"
                  : "Docker is running. Nothing to set up.\n");
    EXPECT_EQ(setup.fake.runner.runs().size(), std::string(platform) == "linux" ? 3u : 2u);
  }
}

TEST(SetupCommand, LinuxWithoutPodman) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("docker", {"ps"}, ScriptedRunner::failed(1));
  auto result = setup.run("linux");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Podman is not installed. Install it with your system's package manager (Ubuntu and Debian: sudo apt "
            "install podman; Fedora: sudo dnf install podman), then run: zelk setup");
  EXPECT_EQ(setup.fake.output.text, "");
}

TEST(SetupCommand, MacosWithoutPodman) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  auto result = setup.run("macos");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Podman is not installed. Install it with its installer from https://podman.io (or: brew install "
            "podman), then run: zelk setup");
}

TEST(SetupCommand, LinuxWithAStoppedPodmanGivesTheRuntimeMessage) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  auto result = setup.run("linux");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "No usable container runtime was found.\n"
            "  Podman is installed but not running." + podman_hint + "\n"
            "  Docker is not installed.\n"
            "Start it and try again.");
  for (const RecordedRun& run : setup.fake.runner.runs()) EXPECT_FALSE(run.attached);
}

TEST(SetupCommand, WindowsInstallsPodmanAndMakesItsMachine) {
  SetupFixture setup;
  auto& runner = setup.fake.runner;
  runner.once("podman", {"ps"}, std::unexpected(RunError::not_found()));  // the choice
  runner.once("podman", {"ps"}, std::unexpected(RunError::not_found()));  // installed?
  runner.once("podman", {"ps"}, ScriptedRunner::failed(125));             // installed now
  runner.once("podman", {"ps"}, ScriptedRunner::failed(125));             // the machine's check
  runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  runner.on("winget", {"install"}, ScriptedRunner::ok());
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(""));
  runner.on("podman", {"machine"}, ScriptedRunner::ok());
  ASSERT_TRUE(setup.run("windows"));
  EXPECT_EQ(setup.fake.output.text,
            installing +
                "Setting up Podman for its first use. This downloads its system once ...\n"
                "Starting Podman ...\n"
                "Podman is ready. Start an app with: zelk start n8n\n");
  const auto runs = runner.runs();
  const auto lines = runner.run_lines();
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[3], winget_line[0]);
  EXPECT_EQ(runs[3].mode, AttachMode::Interactive);
  EXPECT_TRUE(runs[3].environment.empty());
  EXPECT_EQ(lines[7], "attached: podman machine init");
  EXPECT_EQ(lines[8], "attached: podman machine start");
  EXPECT_EQ(lines[9], "podman ps -a --format " + ps_format);
}

TEST(SetupCommand, WindowsWithAStoppedMachineSkipsWinget) {
  SetupFixture setup;
  // An app with data does not stop set-up from starting an existing machine.
  write_text(settings_path(setup.home.path(), "n8n"), "TORVO_PORT=5678\n");
  auto& runner = setup.fake.runner;
  runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("podman-machine-default\n"));
  runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  ASSERT_TRUE(setup.run("windows"));
  EXPECT_EQ(setup.fake.output.text, "Starting Podman ...\nPodman is ready. Start an app with: zelk start n8n\n");
  for (const std::string& line : runner.run_lines()) EXPECT_FALSE(line.starts_with("attached: winget"));
}

TEST(SetupCommand, WindowsWithoutWinget) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("winget", {}, std::unexpected(RunError::not_found()));
  auto result = setup.run("windows");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "\"winget\" is not on this computer. Install Podman from https://podman.io and run: zelk setup");
  EXPECT_EQ(setup.fake.output.text, installing);
}

TEST(SetupCommand, WindowsWingetFailsWithWslAdvice) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("winget", {}, ScriptedRunner::failed(-1978335212));
  setup.fake.runner.on("wsl", {"--status"}, ScriptedRunner::failed(1));
  auto result = setup.run("windows");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Podman could not be installed: \"winget install --exact --id RedHat.Podman --accept-source-agreements "
            "--accept-package-agreements\" failed; see the output above." +
                wsl_advice);
}

TEST(SetupCommand, WindowsPodmanNotFoundAfterInstall) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("winget", {}, ScriptedRunner::ok());
  auto result = setup.run("windows");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Podman was installed but is not found yet. Open a new terminal and run: zelk setup");
}

TEST(SetupCommand, WindowsMachineFailureCarriesTheAdvice) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("m\n"));
  setup.fake.runner.on("podman", {"machine", "start"}, ScriptedRunner::failed(125));
  setup.fake.runner.on("wsl", {"--status"}, ScriptedRunner::ok());
  auto result = setup.run("windows");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "Podman could not be started: \"podman machine start\" failed; see the output above.\n  If the output "
            "above mentions virtualization, turn it on in the computer's firmware settings (BIOS or UEFI). Then "
            "restart the computer and run \"zelk setup\" again. Help: " +
                std::string(help_address));
}

TEST(SetupCommand, StillNoRuntimeAfterTheMachineStarted) {
  SetupFixture setup;
  setup.fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  setup.fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  setup.fake.runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("m\n"));
  setup.fake.runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  auto result = setup.run("macos");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "No usable container runtime was found.\n"
            "  Podman is installed but not running." + podman_hint + "\n"
            "  Docker is not installed.\n"
            "Start it and try again.");
  EXPECT_EQ(setup.fake.output.text, "Starting Podman ...\n");
}

}  // namespace
}  // namespace zelk
