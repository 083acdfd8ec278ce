#include "e2e_support.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "apps.h"
#include "http.h"
#include "platform.h"
#include "tcp_listener.h"
#include "test_image.h"

namespace zelk::e2e {

namespace {

using namespace std::chrono_literals;

constexpr auto program_limit = 120s;

constexpr const char* idle_script = "trap 'exit 0' TERM INT; sleep 100000 & wait";

}  // namespace

bool in_ci() {
  const std::optional<std::string> ci = get_env("CI");
  return ci && !ci->empty() && *ci != "false" && *ci != "0";
}

std::string describe(const std::expected<RunOutput, RunError>& run) {
  if (!run) return "run error: " + fmt_run_error(run.error());
  return "exit code " + (run->exit_code ? std::to_string(*run->exit_code) : std::string("none")) +
         "\nstdout: " + run->stdout_text + "\nstderr: " + run->stderr_text;
}

std::string runtime_name(const ::testing::TestParamInfo<RuntimeUnderTest>& info) {
  return info.param.display_name;
}

std::uint16_t RealRuntime::free_port() {
  while (true) {
    const std::uint16_t port = unused_port();
    bool taken = port < 1024;
    for (const Recipe& recipe : builtin_recipes()) taken = taken || recipe.port == port;
    if (!taken) return port;
  }
}

void RealRuntime::SetUp() {
  auto answer = runner_.run_captured(runtime(), {"ps", "-q"}, program_limit);
  if (!answer || !answer->success()) {
    const std::string why = GetParam().display_name + " does not answer here (" + describe(answer) +
                            "). scripts/services.sh starts what the end-to-end tests need.";
    if (in_ci()) FAIL() << why;
    GTEST_SKIP() << why;
  }

  // Zelk finds the runtime on PATH; for Docker, a PATH that shows Docker's program only, so
  // that Podman does not answer first.
  path_ = get_env("PATH").value_or("/usr/bin:/bin");
  if (runtime() == "docker") {
    auto located = runner_.run_captured("sh", {"-c", "command -v docker"}, program_limit);
    ASSERT_TRUE(located && located->success()) << describe(located);
    std::string docker = located->stdout_text;
    while (!docker.empty() && (docker.back() == '\n' || docker.back() == '\r')) docker.pop_back();
    const std::filesystem::path only_docker = scratch_.path() / "only-docker";
    std::filesystem::create_directories(only_docker);
    std::filesystem::create_symlink(path_from_utf8(docker), only_docker / "docker");
    path_ = path_to_utf8(only_docker);
  }

  const std::string image = "localhost/zelk-e2e-" + std::to_string(::getpid()) + ":1";
  auto imported = import_test_image(runner_, runtime(), scratch_.path(), image);
  ASSERT_TRUE(imported) << imported.error();
  image_ = image;
}

void RealRuntime::TearDown() {
  for (const std::string& container : containers_) {
    (void)runner_.run_captured(runtime(), {"rm", "-f", container}, program_limit);
  }
  if (!image_.empty()) (void)runner_.run_captured(runtime(), {"rmi", "-f", image_}, program_limit);
}

std::optional<std::string> RealRuntime::run_runtime(const std::vector<std::string>& args) {
  auto run = runner_.run_captured(runtime(), args, program_limit);
  if (run && run->success()) return run->stdout_text;
  std::string line = runtime();
  for (const std::string& arg : args) line += " " + arg;
  ADD_FAILURE() << line << ": " << describe(run);
  return std::nullopt;
}

std::string RealRuntime::app_id(const std::string& word) const {
  return "e2e-" + std::to_string(::getpid()) + "-" + word;
}

void RealRuntime::run_app_container(const std::string& id, std::uint16_t port, const std::string& recipe_hash,
                                    bool serve) {
  const std::string name = "torvo-" + id;
  containers_.push_back(name);
  std::vector<std::string> args{"run", "-d", "--name", name, "--label", "torvo.app=" + id,
                                "--label", "torvo.recipe=" + recipe_hash, "-p",
                                "127.0.0.1:" + std::to_string(port) + ":8080", image_};
  if (!serve) {
    args.insert(args.end(), {"sh", "-c", idle_script});
  }
  run_runtime(args);
}

void RealRuntime::create_app_container(const std::string& id, const std::string& recipe_hash) {
  const std::string name = "torvo-" + id;
  containers_.push_back(name);
  run_runtime({"create", "--name", name, "--label", "torvo.recipe=" + recipe_hash, image_});
}

void RealRuntime::stop_app_container(const std::string& id) { run_runtime({"stop", "torvo-" + id}); }

bool RealRuntime::wait_until_ready(std::uint16_t port, const std::string& path) {
  for (int attempt = 0; attempt < 300; ++attempt) {
    if (http_probe(port, path) == 200) return true;
    std::this_thread::sleep_for(100ms);
  }
  return false;
}

void RealRuntime::add_recipe(const std::string& id, std::uint16_t port, const std::vector<std::string>& command) {
  const std::filesystem::path folder = home_.path() / "recipes";
  std::filesystem::create_directories(folder);
  std::ofstream(folder / path_from_utf8(id + ".yaml"), std::ios::binary) << test_page_recipe(id, port, image_, command);
}

std::expected<RunOutput, RunError> RealRuntime::run_zelk(const std::vector<std::string>& args) {
  std::vector<std::string> command{"ZELK_HOME=" + path_to_utf8(home_.path()), "PATH=" + path_, ZELK_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  return runner_.run_captured("env", command, program_limit);
}

}  // namespace zelk::e2e
