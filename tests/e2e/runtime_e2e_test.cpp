#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "e2e_support.h"
#include "envfile.h"
#include "platform.h"
#include "runtime.h"

namespace zelk::e2e {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// One row of "zelk list" for an id of 12 characters or more.
std::string row(const std::string& id, const std::string& state, std::uint16_t port) {
  std::string padded = state;
  padded.resize(14, ' ');
  return id + " " + padded + " http://127.0.0.1:" + std::to_string(port) + "/";
}

bool holds_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ContainerList : public RealRuntime {};

TEST_P(ContainerList, SeesStatesAndTheRecipeLabel) {
  const std::string running = app_id("running");
  const std::string exited = app_id("exited");
  const std::string created = app_id("created");
  run_app_container(running, free_port(), "0123abcdef456789");
  run_app_container(exited, free_port(), "fedcba9876543210");
  stop_app_container(exited);
  create_app_container(created, "00ff00ff00ff00ff");

  auto listed = list_containers(runner_, runtime());
  ASSERT_TRUE(listed) << "list failed";
  ASSERT_TRUE(listed->contains("torvo-" + running));
  ASSERT_TRUE(listed->contains("torvo-" + exited));
  ASSERT_TRUE(listed->contains("torvo-" + created));
  EXPECT_EQ(listed->at("torvo-" + running), (ContainerInfo{"running", "0123abcdef456789"}));
  EXPECT_EQ(listed->at("torvo-" + exited), (ContainerInfo{"exited", "fedcba9876543210"}));
  EXPECT_EQ(listed->at("torvo-" + created), (ContainerInfo{"created", "00ff00ff00ff00ff"}));

  // Each runtime writes its labels in its own form; both are read.
  auto labels = run_runtime({"ps", "-a", "--filter", "name=torvo-" + running, "--format", "{{.Labels}}"});
  ASSERT_TRUE(labels);
  const std::string form = runtime() == "podman" ? "torvo.recipe:0123abcdef456789" : "torvo.recipe=0123abcdef456789";
  EXPECT_NE(labels->find(form), std::string::npos) << *labels;
}

INSTANTIATE_TEST_SUITE_P(Runtimes, ContainerList,
                         ::testing::Values(RuntimeUnderTest{"podman", "Podman"}, RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

class ZelkCommands : public RealRuntime {};

TEST_P(ZelkCommands, ListShowsEveryState) {
  const std::string ready = app_id("ready");
  const std::string starting = app_id("starting");
  const std::string exited = app_id("exited");
  const std::string absent = app_id("absent");

  // The ready app is reached on the port of its settings file, not on its recipe's port.
  const std::uint16_t ready_recipe_port = free_port();
  const std::uint16_t ready_port = free_port();
  const std::uint16_t starting_port = free_port();
  const std::uint16_t exited_port = free_port();
  const std::uint16_t absent_port = free_port();
  add_recipe(ready, ready_recipe_port);
  add_recipe(starting, starting_port);
  add_recipe(exited, exited_port);
  add_recipe(absent, absent_port);
  ASSERT_TRUE(write_settings(home_.path(), ready, "# Settings\nTORVO_PORT=" + std::to_string(ready_port) + "\n"));

  run_app_container(ready, ready_port, "aa");
  run_app_container(starting, starting_port, "bb", false);
  run_app_container(exited, exited_port, "cc");
  stop_app_container(exited);
  ASSERT_TRUE(wait_until_ready(ready_port, "/index.html")) << "the test page never answered";

  auto listed = run_zelk({"list"});
  ASSERT_TRUE(listed && listed->success()) << describe(listed);
  EXPECT_EQ(listed->stderr_text, "");
  const std::vector<std::string> lines = lines_of(listed->stdout_text);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "APP          STATE          ADDRESS");
  EXPECT_TRUE(holds_line(lines, row(ready, "ready", ready_port))) << listed->stdout_text;
  EXPECT_TRUE(holds_line(lines, row(starting, "starting", starting_port))) << listed->stdout_text;
  EXPECT_TRUE(holds_line(lines, row(exited, "exited", exited_port))) << listed->stdout_text;
  EXPECT_TRUE(holds_line(lines, row(absent, "not installed", absent_port))) << listed->stdout_text;
  EXPECT_EQ(lines.size(), 1u + 4u + 4u);  // the head, the built-in apps and the four added ones
}

// Both runtimes run as root on this machine: what that exposes is said, with the way out.
std::string root_notice(const std::string& display_name) {
  const std::string how = display_name == "Podman"
                              ? "run Zelk as your own user, not as root or with sudo: Podman then runs rootless, "
                                "as you."
                              : "run Docker rootless (see https://docs.docker.com/engine/security/rootless/), or "
                                "use Podman as your own user.";
  return display_name + " runs as root here. Then every app's container, helpers included, answers every user of "
                        "this computer at its address on the runtime's network, with what it holds (its data and "
                        "secrets).\nTo keep the apps to yourself, " + how + "\n";
}

TEST_P(ZelkCommands, DoctorNamesTheRuntime) {
  // Docker's version is its server's, which runs the apps.
  const std::vector<std::string> asked = runtime() == "docker"
                                             ? std::vector<std::string>{"version", "--format", "{{.Server.Version}}"}
                                             : std::vector<std::string>{"--version"};
  std::vector<std::string> args{"PATH=" + zelk_path(), runtime()};
  args.insert(args.end(), asked.begin(), asked.end());
  auto version = runner_.run_captured("env", args, std::chrono::seconds(60));
  ASSERT_TRUE(version && version->success()) << describe(version);
  std::string version_text = version->stdout_text;
  while (!version_text.empty() && (version_text.back() == '\n' || version_text.back() == ' ')) version_text.pop_back();
  if (runtime() == "docker") version_text = "Docker Engine " + version_text;

  auto doctor = run_zelk({"doctor"});
  ASSERT_TRUE(doctor && doctor->success()) << describe(doctor);
  EXPECT_EQ(doctor->stdout_text, "Data:    " + path_to_utf8(home_.path()) +
                                     "\nRecipes: 4 built in\nRuntime: " + GetParam().display_name + " (" +
                                     version_text + ")\n" + root_notice(GetParam().display_name));
}

TEST_P(ZelkCommands, SetupFindsTheRuntimeRunning) {
  auto setup = run_zelk({"setup"});
  ASSERT_TRUE(setup && setup->success()) << describe(setup);
  EXPECT_EQ(setup->stdout_text,
            GetParam().display_name + " is running. Nothing to set up.\n" + root_notice(GetParam().display_name));
}

INSTANTIATE_TEST_SUITE_P(Runtimes, ZelkCommands,
                         ::testing::Values(RuntimeUnderTest{"podman", "Podman"}, RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
