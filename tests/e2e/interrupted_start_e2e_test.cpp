// A first start broken off while Podman made the app's container leaves one that Podman made
// and prepared but never ran, and whose process is gone: every "podman start" of it fails.
// The test makes such a container with the very arguments zelk uses, over a named volume that
// already holds data (as after a restore), and then "zelk start" must bring the app up with
// that data.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "apps_run.h"
#include "e2e_support.h"
#include "envfile.h"
#include "files.h"
#include "flow_support.h"
#include "platform.h"
#include "recipe.h"
#include "test_context.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class InterruptedFirstStart : public RealRuntime {
 protected:
  void SetUp() override {
    RealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    id = app_id("cut");
    container = "torvo-" + id;
    pages = "torvo-" + id + "-pages";
    notes = "torvo-" + id + "-notes";
    port = free_port();
    data = home_.path() / "data";
    fs::create_directories(data / "recipes");
    recipe_text = keeper_recipe(id, "Keeper", port, image_);
    std::ofstream(data / "recipes" / (id + ".yaml"), std::ios::binary) << recipe_text;
  }

  void TearDown() override {
    if (!id.empty()) {
      (void)runner_.run_captured(runtime(), {"rm", "-f", container}, 120s);
      (void)runner_.run_captured(runtime(), {"volume", "rm", "-f", pages, notes}, 120s);
    }
    RealRuntime::TearDown();
  }

  std::string inspect(const std::string& format) {
    std::string text = run_runtime({"inspect", "--format", format, container}).value_or("");
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

  std::string id, container, pages, notes, recipe_text;
  std::uint16_t port = 0;
  fs::path data;
};

// Waits, a bounded number of times, until no process of that id is left.
bool gone(pid_t pid) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (::kill(pid, 0) != 0) return true;
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

TEST_P(InterruptedFirstStart, AContainerThatWasNeverRunIsMadeAnewAndTheDataStays) {
  // What a restore leaves: the data volume holds the user's files, and there is no container.
  ASSERT_TRUE(run_runtime({"volume", "create", pages}));
  ASSERT_TRUE(run_runtime({"run", "--rm", "-v", pages + ":/p", image_, "sh", "-c", "echo kept > /p/note.txt"}));

  // The settings and the container exactly as zelk's own first start makes them, but only made
  // and prepared ("podman init"), and then its monitor and its process die, as when the start
  // is broken off.
  const std::string secret = "0123456789abcdef0123456789abcdef0123456789abcdef";
  const std::string settings = "TORVO_PORT=" + std::to_string(port) + "\nE2E_SECRET=" + secret + "\n";
  ASSERT_TRUE(write_settings(data, id, settings));
  const Recipe recipe = read_recipe(recipe_text).value();
  const ContainerRun run = as_started(run_arguments(app_run_plan(recipe), recipe, port, settings).value(), data);
  ASSERT_GE(run.args.size(), 2u);
  ASSERT_EQ(run.args[0], "run");
  ASSERT_EQ(run.args[1], "-d");
  std::vector<std::string> create{"env"};
  for (const auto& [name, value] : run.env) create.push_back(name + "=" + value);
  create.insert(create.end(), {runtime(), "create"});
  create.insert(create.end(), run.args.begin() + 2, run.args.end());
  auto created = runner_.run_captured(create[0], std::vector<std::string>(create.begin() + 1, create.end()), 120s);
  ASSERT_TRUE(created && created->success()) << describe(created);
  ASSERT_TRUE(run_runtime({"init", container}));
  std::istringstream pids(inspect("{{.State.ConmonPid}} {{.State.Pid}}"));
  pid_t monitor = 0;
  pid_t process = 0;
  pids >> monitor >> process;
  ASSERT_GT(monitor, 0);
  ASSERT_GT(process, 0);
  ASSERT_EQ(::kill(monitor, SIGKILL), 0);
  ASSERT_EQ(::kill(process, SIGKILL), 0);
  ASSERT_TRUE(gone(monitor) && gone(process));
  EXPECT_EQ(inspect("{{.State.Status}}"), "initialized");
  auto refused = runner_.run_captured(runtime(), {"start", container}, 120s);
  ASSERT_TRUE(refused.has_value()) << describe(refused);
  ASSERT_FALSE(refused->success()) << "this Podman starts such a container after all; the test proves nothing";

  const ProgramRun started = run_zelk_program(runner_, data, zelk_path(), {"start", id});
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/";
  EXPECT_EQ(started.code, 0) << started.err;
  EXPECT_EQ(started.out,
            "Starting Keeper with Podman ...\n"
            "Keeper never finished its first start. Making it anew; its data is kept.\n"
            "Waiting for Keeper to answer on port " + std::to_string(port) + " ...\n"
            "Keeper is ready: " + address + "\n");
  EXPECT_EQ(started.err, "");

  EXPECT_EQ(http_body(runner_, port, "/pages/note.txt").value_or("<no answer>"), "kept\n");
  EXPECT_EQ(line_value(http_body(runner_, port, "/env.txt").value_or(""), "SECRET"), secret);
  EXPECT_EQ(read_file(settings_path(data, id)).value_or("<none>"), settings);
  EXPECT_EQ(inspect("{{.State.Status}}"), "running");
  EXPECT_EQ(inspect("{{index .Config.Labels \"torvo.recipe\"}}"), run.recipe_hash);
}

// Only Podman has a state between made and running that its own start cannot leave.
INSTANTIATE_TEST_SUITE_P(Runtimes, InterruptedFirstStart, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
