#include "fake_runtime_flow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "apps.h"
#include "apps_run.h"
#include "child_programs.h"
#include "envfile.h"
#include "fake_runtime_calls.h"
#include "files.h"
#include "platform.h"
#include "ready_listener.h"
#include "runner.h"
#include "scoped_env.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"

namespace zelk {

namespace {

namespace fs = std::filesystem;

// Arguments that only arrive whole when every layer quotes them right: blanks, double quotes,
// a backslash before a closing quote, braces and tabs (the list's format).
std::string flow_recipe(std::uint16_t port) {
  return R"(services:
  flow:
    image: localhost/zelk/flow:1.0
    environment:
      FLOW_SECRET: ${FLOW_SECRET}
      GREETING: ${GREETING:-hello "quoted" world\}
    ports:
      - "127.0.0.1:${TORVO_PORT}:8080"
    volumes:
      - data:/srv/data
    depends_on:
      - db
  db:
    image: localhost/zelk/flowdb:1.0
    command:
      - serve
      - 'C:\Program Files\db\'
      - say "hi"
    environment:
      PASSWORD: ${FLOW_SECRET}
volumes:
  data:
    name: torvo-flow-data
x-zelk:
  format: 2
  id: flow
  name: Flow
  category: Tests
  summary: A flow through a fake runtime.
  port: )" + std::to_string(port) + R"(
  ready: /healthz
  secrets:
    FLOW_SECRET: 16
)";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

std::string row(const std::string& id, const std::string& state, std::uint16_t port, const std::string& open) {
  return padded(id, 12) + " " + padded(state, 14) + " http://127.0.0.1:" + std::to_string(port) + open + "\n";
}

struct Walk {
  TestFolder root;
  fs::path bin = root.path() / "bin folder";
  fs::path data = root.path() / "zelk data";
  fs::path fake = root.path() / "fake runtime";
  ReadyListener listener{fake_container_runs(fake, "torvo-flow")};  // the app's container holds its port
  std::uint16_t port = listener.port();
  Recipe recipe = read_test_recipe(flow_recipe(port));
  SystemRunner runner;
  std::size_t calls_seen = 0;

  const std::string ps_format = "{{.Names}}\t{{.State}}\t{{.Labels}}";

  /// Runs zelk; expects success with exactly this output and nothing on its errors, and gives
  /// the calls the runtime got meanwhile.
  std::vector<std::string> zelk(const std::vector<std::string>& args, const std::string& expected_out) {
    std::string command = "zelk";
    for (const std::string& arg : args) command += " " + arg;
    auto run = runner.run_captured(zelk_program(), args, std::chrono::seconds(120));
    if (!run) {
      ADD_FAILURE() << command << ": " << fmt_run_error(run.error());
    } else {
      EXPECT_EQ(run->exit_code, std::optional<std::int32_t>(0)) << command << "\n" << run->stderr_text;
      EXPECT_EQ(run->stdout_text, expected_out) << command;
      EXPECT_EQ(run->stderr_text, "") << command;
    }
    const std::vector<std::string> calls = lines_of(read_file(fake / "calls.txt").value_or(""));
    std::vector<std::string> fresh(calls.begin() + static_cast<std::ptrdiff_t>(std::min(calls_seen, calls.size())),
                                   calls.end());
    calls_seen = calls.size();
    return fresh;
  }

  std::string table(const std::string& flow_state) {
    std::string text = "APP          STATE          ADDRESS\n";
    for (const Recipe& builtin : builtin_recipes())
      text += row(builtin.id, "not installed", builtin.port, builtin.open);
    return text + row("flow", flow_state, port, "/");
  }

  std::string call(const std::vector<std::string>& args) { return fake_call_line(args); }
  std::string list_call() { return call({"ps", "-a", "--format", ps_format}); }
  std::string ready_lines() {
    return "Waiting for Flow to answer on port " + std::to_string(port) + " ...\nFlow is ready: http://127.0.0.1:" +
           std::to_string(port) + "/\n";
  }
};

}  // namespace

void walk_through_the_fake_runtime() {
  Walk walk;
  fs::create_directories(walk.bin);
  fs::create_directories(walk.fake);
  fs::create_directories(walk.data / "recipes");
  const std::string exe = platform_word == "windows" ? ".exe" : "";
  std::error_code copied;
  fs::copy_file(path_from_utf8(helper_program("fake_podman")), walk.bin / path_from_utf8("podman" + exe), copied);
  ASSERT_FALSE(copied) << copied.message();
  ASSERT_TRUE(write_file_atomically(walk.data / "recipes" / "flow.yaml", flow_recipe(walk.port)));
  ASSERT_TRUE(write_file_atomically(walk.fake / "state.txt",
                                    "image\tlocalhost/zelk/flow:1.0\nimage\tlocalhost/zelk/flowdb:1.0\n"));
  ASSERT_EQ(walk.recipe.id, "flow");

  const std::string separator = platform_word == "windows" ? ";" : ":";
  ScopedEnv home("ZELK_HOME", path_to_utf8(walk.data));
  ScopedEnv path("PATH", path_to_utf8(walk.bin) + separator + get_env("PATH").value_or(""));
  ScopedEnv fake("FAKE_PODMAN_DIR", path_to_utf8(walk.fake));

  EXPECT_EQ(walk.zelk({"list"}, walk.table("not installed")), std::vector<std::string>{walk.list_call()});

  const std::vector<std::string> first_start = walk.zelk(
      {"start", "flow"},
      "Installing Flow's helper \"db\" with Podman ...\nInstalling Flow with Podman ...\n" + walk.ready_lines());
  const std::string settings = read_file(settings_path(walk.data, "flow")).value_or("");
  const std::string secret = setting_value(settings, "FLOW_SECRET").value_or("<none>");
  EXPECT_EQ(secret.size(), 32u);
  auto own = run_arguments(app_run_plan(walk.recipe), walk.recipe, walk.port, settings);
  auto helper = helper_run_arguments(walk.recipe, walk.port, settings, walk.recipe.helpers.at(0));
  ASSERT_TRUE(own && helper);
  own = as_started(std::move(*own), walk.data);
  helper = as_started(std::move(*helper), walk.data);
  // The quoting must survive: the arguments arrive as Zelk made them, and the secret only
  // through the runtime's environment.
  EXPECT_NE(std::find(own->args.begin(), own->args.end(), R"(GREETING=hello "quoted" world\)"), own->args.end());
  EXPECT_NE(std::find(helper->args.begin(), helper->args.end(), R"(C:\Program Files\db\)"), helper->args.end());
  EXPECT_EQ(first_start, (std::vector<std::string>{
                             walk.list_call(),
                             walk.call({"network", "inspect", "torvo-flow_default"}),
                             walk.call({"network", "create", "torvo-flow_default"}),
                             walk.call(helper->args),
                             walk.call({"network", "inspect", "torvo-flow_default"}),
                             walk.call({"image", "exists", "localhost/zelk/flow:1.0"}),
                             walk.call(own->args),
                         }));
  const std::string state = read_file(walk.fake / "state.txt").value_or("");
  EXPECT_NE(state.find("container\ttorvo-flow\trunning\ttorvo.app:flow torvo.recipe:" + own->recipe_hash +
                       "\tFLOW_SECRET=" + secret + "\tGREETING=hello \"quoted\" world\\\n"),
            std::string::npos)
      << state;
  EXPECT_NE(state.find("container\ttorvo-flow-db\trunning\ttorvo.app:flow torvo.recipe:" + helper->recipe_hash +
                       "\tPASSWORD=" + secret + "\n"),
            std::string::npos)
      << state;
  EXPECT_TRUE(fs::exists(running_marker_path(walk.data, "flow")));

  EXPECT_EQ(walk.zelk({"list"}, walk.table("ready")), std::vector<std::string>{walk.list_call()});

  EXPECT_EQ(walk.zelk({"stop", "flow"}, "Flow is stopped.\n"),
            (std::vector<std::string>{walk.list_call(), walk.call({"stop", "torvo-flow"}),
                                      walk.call({"stop", "torvo-flow-db"})}));
  EXPECT_FALSE(fs::exists(running_marker_path(walk.data, "flow")));
  EXPECT_EQ(walk.zelk({"list"}, walk.table("exited")), std::vector<std::string>{walk.list_call()});

  EXPECT_EQ(
      walk.zelk({"start", "flow"},
                "Starting Flow's helper \"db\" with Podman ...\nStarting Flow with Podman ...\n" + walk.ready_lines()),
      (std::vector<std::string>{walk.list_call(), walk.call({"start", "torvo-flow-db"}),
                                walk.call({"start", "torvo-flow"})}));

  EXPECT_EQ(walk.zelk({"remove", "flow"}, "Flow is removed. Its data volumes and settings are kept.\n"),
            (std::vector<std::string>{walk.list_call(), walk.call({"rm", "-f", "-v", "torvo-flow"}),
                                      walk.call({"rm", "-f", "-v", "torvo-flow-db"})}));
  EXPECT_EQ(walk.zelk({"list"}, walk.table("not installed")), std::vector<std::string>{walk.list_call()});

  const std::string closing =
      platform_word == "windows"
          ? "Every app and its data are removed. Podman's machine still takes disk space: \"podman machine rm\" gives "
            "it back. Then uninstall the Zelk and Podman in the list of installed apps.\n"
          : "Every app and its data are removed. Uninstall the Zelk, and Podman if nothing else needs it, the way you "
            "installed them.\n";
  const std::vector<std::string> everything =
      walk.zelk({"remove", "--everything", "--yes"},
                "The data folder " + path_to_utf8(walk.data) +
                    " was named with ZELK_HOME, so it is left for you to delete.\n" + closing);
  std::vector<std::string> of_flow;
  for (const std::string& line : everything) {
    if (line.find("flow") != std::string::npos) of_flow.push_back(line);
  }
  EXPECT_EQ(of_flow, (std::vector<std::string>{walk.call({"volume", "exists", "torvo-flow-data"}),
                                               walk.call({"volume", "rm", "-f", "torvo-flow-data"}),
                                               walk.call({"rmi", "localhost/zelk/flow:1.0"}),
                                               walk.call({"rmi", "localhost/zelk/flowdb:1.0"}),
                                               walk.call({"network", "rm", "torvo-flow_default"})}));
  EXPECT_EQ(read_file(walk.fake / "state.txt").value_or("<none>"), "");

  const std::vector<std::string> probes = walk.listener.requests();
  EXPECT_EQ(probes.size(), 3u);  // two starts and the list of the running app
  for (const std::string& request : probes) EXPECT_EQ(request, "GET /healthz HTTP/1.1");
}

}  // namespace zelk
