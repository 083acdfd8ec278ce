#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "apps_run.h"
#include "apps_start.h"
#include "e2e_support.h"
#include "envfile.h"
#include "files.h"
#include "http.h"
#include "platform.h"
#include "pull.h"
#include "ready_listener.h"
#include "scoped_env.h"
#include "test_image.h"
#include "test_context.h"
#include "zelk/commands.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto program_limit = 120s;

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The app, its helper and the app it uses, as recipe texts for the test image.
std::string base_recipe(const std::string& id, const std::string& image, std::uint16_t port) {
  return "services:\n"
         "  " + id + ":\n"
         "    image: " + image + "\n"
         "    ports:\n"
         "      - 127.0.0.1:${TORVO_PORT}:8080\n"
         "    networks:\n"
         "      - own\n"
         "networks:\n"
         "  own:\n"
         "    name: torvo-" + id + "\n"
         "x-zelk:\n"
         "  format: 2\n"
         "  id: " + id + "\n"
         "  name: Base app\n"
         "  category: Tests\n"
         "  summary: The app the other one uses.\n"
         "  port: " + std::to_string(port) + "\n"
         "  ready: /index.html\n";
}

std::string full_recipe(const std::string& id, const std::string& base_id, const std::string& image,
                        std::uint16_t port) {
  return "services:\n"
         "  " + id + ":\n"
         "    image: " + image + "\n"
         "    environment:\n"
         "      APP_SECRET: ${APP_SECRET}\n"
         "      GREETING: ${GREETING:-hello}\n"
         "      SELF: http://127.0.0.1:${TORVO_PORT}/\n"
         "    ports:\n"
         "      - 127.0.0.1:${TORVO_PORT}:8080\n"
         "    volumes:\n"
         "      - data:/data\n"
         "    networks:\n"
         "      - base\n"
         "    depends_on:\n"
         "      - cache\n"
         "  cache:\n"
         "    image: " + image + "\n"
         "    command:\n"
         "      - sh\n"
         "      - -c\n"
         "      - echo hello-from-cache; trap 'exit 0' TERM; sleep 100000 & wait\n"
         "volumes:\n"
         "  data:\n"
         "    name: torvo-" + id + "-data\n"
         "networks:\n"
         "  base:\n"
         "    name: torvo-" + base_id + "\n"
         "    external: true\n"
         "x-zelk:\n"
         "  format: 2\n"
         "  id: " + id + "\n"
         "  name: Full app\n"
         "  category: Tests\n"
         "  summary: An app with a helper, a secret, a setting and a volume.\n"
         "  port: " + std::to_string(port) + "\n"
         "  ready: /index.html\n"
         "  secrets:\n"
         "    APP_SECRET: 24\n";
}

// One container; `command` replaces the image's own (empty: the web server).
std::string single_recipe(const std::string& id, const std::string& name, const std::string& image,
                          std::uint16_t port, const std::vector<std::string>& command = {},
                          const std::string& fallback = {}) {
  std::string text = "services:\n  " + id + ":\n    image: " + image + "\n";
  if (!command.empty()) {
    text += "    command:\n";
    for (const std::string& word : command) text += "      - " + word + "\n";
  }
  text += "    ports:\n      - 127.0.0.1:${TORVO_PORT}:8080\n"
          "x-zelk:\n  format: 2\n  id: " + id + "\n  name: " + name + "\n  category: Tests\n"
          "  summary: One container.\n  port: " + std::to_string(port) + "\n  ready: /index.html\n";
  if (!fallback.empty()) text += "  fallback-image: " + fallback + "\n";
  return text;
}

class AppsOnRealRuntime : public RealRuntime {
 protected:
  void SetUp() override {
    RealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // A stand-in for the runtime's program, first on PATH: it writes down every argument list
    // and environment it is given, then runs the real program.
    // The PATH under test may hold the runtime alone, so every other program is named by path.
    auto located = runner_.run_captured(
        "sh", {"-c", "command -v " + runtime() + " && command -v env && command -v sed"}, program_limit);
    ASSERT_TRUE(located && located->success()) << describe(located);
    std::istringstream where(located->stdout_text);
    std::string real, env_program, sed_program;
    std::getline(where, real);
    std::getline(where, env_program);
    std::getline(where, sed_program);
    const fs::path wrappers = work_.path() / "wrappers";
    fs::create_directories(wrappers);
    log_ = work_.path() / "runtime-calls.log";
    const fs::path wrapper = wrappers / path_from_utf8(runtime());
    std::ofstream(wrapper) << "#!/bin/sh\n"
                              "{ printf 'ARGS'; for a in \"$@\"; do printf ' %s' \"$a\"; done; printf '\\n';"
                              " " + env_program + " | " + sed_program + " 's/^/ENV /'; } >> '" +
                                  path_to_utf8(log_) + "'\n"
                              "exec '" + real + "' \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    recording_path_ = path_to_utf8(wrappers) + ":" + zelk_path();
  }

  void TearDown() override {
    for (const std::string& id : ids_) {
      for (const std::string& name : {"torvo-" + id, "torvo-" + id + "-cache"}) {
        (void)runner_.run_captured(runtime(), {"rm", "-f", name}, program_limit);
      }
      (void)runner_.run_captured(runtime(), {"volume", "rm", "-f", "torvo-" + id + "-data"}, program_limit);
      for (const std::string& network : {"torvo-" + id, "torvo-" + id + "_default"}) {
        (void)runner_.run_captured(runtime(), {"network", "rm", network}, program_limit);
      }
    }
    for (const std::string& image : images_) {
      (void)runner_.run_captured(runtime(), {"rmi", "-f", image}, program_limit);
    }
    RealRuntime::TearDown();
  }

  /// A new app id, cleaned up after the test.
  std::string new_id(const std::string& word) {
    ids_.push_back(app_id(word));
    return ids_.back();
  }

  void write_recipe(const std::string& id, const std::string& text) {
    ASSERT_TRUE(read_recipe(text)) << read_recipe(text).error();
    fs::create_directories(home_.path() / "recipes");
    ASSERT_TRUE(write_file_atomically(home_.path() / "recipes" / path_from_utf8(id + ".yaml"), text));
  }

  /// Runs the built zelk program with the data folder and the recording PATH.
  RunOutput zelk(const std::vector<std::string>& args) {
    std::vector<std::string> command{"ZELK_HOME=" + path_to_utf8(home_.path()), "PATH=" + recording_path_, ZELK_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    auto run = runner_.run_captured("env", command, 600s);
    EXPECT_TRUE(run) << describe(run);
    return run.value_or(RunOutput{});
  }

  std::string inspect(const std::string& container, const std::string& format) {
    return trimmed(run_runtime({"inspect", "--format", format, container}).value_or("<inspect failed>"));
  }

  bool exists(const std::vector<std::string>& args) {
    auto run = runner_.run_captured(runtime(), args, program_limit);
    return run && run->success();
  }

  std::string settings(const std::string& id) {
    return read_file(settings_path(home_.path(), id)).value_or("<no settings file>");
  }

  std::string calls() { return read_file(log_).value_or(""); }

  /// A context for running commands in this process, with the recording PATH in force.
  struct InProcess {
    explicit InProcess(AppsOnRealRuntime& test, std::span<const Recipe> recipes)
        : path("PATH", test.recording_path_), fake(test.home_.path(), recipes) {
      fake.probe_answer = [](std::uint16_t port, std::string_view ready) { return http_probe(port, ready); };
      fake.sleep = [](std::chrono::nanoseconds pause) { std::this_thread::sleep_for(pause); };
    }
    ScopedEnv path;
    TestContext fake;
  };

  std::string display() const { return GetParam().display_name; }

  TestFolder work_;
  fs::path log_;
  std::string recording_path_;
  std::vector<std::string> ids_;
  std::vector<std::string> images_;
};

std::string address(std::uint16_t port, const std::string& path = "/") {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

TEST_P(AppsOnRealRuntime, TheWholeLifeOfAnAppThatUsesAnother) {
  const std::string base = new_id("base");
  const std::string full = new_id("full");
  const std::uint16_t base_port = free_port();
  const std::uint16_t port = free_port();
  write_recipe(base, base_recipe(base, image_, base_port));
  write_recipe(full, full_recipe(full, base, image_, port));
  const std::string rt = display();

  // Install: the used app first, then the helper, then the app.
  RunOutput installed = zelk({"start", full});
  ASSERT_EQ(installed.exit_code, 0) << installed.stderr_text;
  EXPECT_EQ(installed.stdout_text,
            "Full app uses Base app. Starting Base app first ...\n"
            "Installing Base app with " + rt + " ...\n"
            "Waiting for Base app to answer on port " + std::to_string(base_port) + " ...\n"
            "Base app is ready: " + address(base_port) + "\n"
            "Installing Full app's helper \"cache\" with " + rt + " ...\n"
            "Installing Full app with " + rt + " ...\n"
            "Waiting for Full app to answer on port " + std::to_string(port) + " ...\n"
            "Full app is ready: " + address(port) + "\n");
  EXPECT_EQ(http_probe(port, "/index.html"), 200);

  // The settings file: the recipe's template with a secret of 2 x 24 hex digits.
  const std::string text = settings(full);
  const std::string secret = setting_value(text, "APP_SECRET").value_or("");
  EXPECT_EQ(secret.size(), 48u);
  EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos) << secret;
  EXPECT_EQ(text, "# Settings of Full app. The Zelk reads this file when it starts the app.\n"
                  "TORVO_PORT=" + std::to_string(port) + "\nAPP_SECRET=" + secret + "\nGREETING=hello\n");
  EXPECT_TRUE(fs::exists(running_marker_path(home_.path(), full)));
  EXPECT_TRUE(fs::exists(running_marker_path(home_.path(), base)));

  // Networks, labels, the port on 127.0.0.1 only, the helper published nowhere.
  EXPECT_TRUE(exists({"network", "inspect", "torvo-" + base}));
  EXPECT_TRUE(exists({"network", "inspect", "torvo-" + full + "_default"}));
  const Recipe recipe = read_recipe(full_recipe(full, base, image_, port)).value();
  const ContainerRun expected =
      as_started(run_arguments(app_run_plan(recipe), recipe, port, text).value(), home_.path());
  EXPECT_EQ(inspect("torvo-" + full, "{{index .Config.Labels \"torvo.app\"}}"), full);
  EXPECT_EQ(inspect("torvo-" + full, "{{index .Config.Labels \"torvo.recipe\"}}"), expected.recipe_hash);
  EXPECT_EQ(inspect("torvo-" + full, "{{json .HostConfig.PortBindings}}"),
            "{\"8080/tcp\":[{\"HostIp\":\"127.0.0.1\",\"HostPort\":\"" + std::to_string(port) + "\"}]}");
  EXPECT_EQ(inspect("torvo-" + full + "-cache", "{{json .HostConfig.PortBindings}}"), "{}");
  EXPECT_EQ(inspect("torvo-" + full + "-cache", "{{index .Config.Labels \"torvo.app\"}}"), full);

  // The secret is in the container's environment and reached the runtime through its
  // environment, never through an argument list.
  const std::string env = inspect("torvo-" + full, "{{range .Config.Env}}{{println .}}{{end}}");
  EXPECT_TRUE(contains(env, "APP_SECRET=" + secret + "\n")) << env;
  EXPECT_TRUE(contains(env, "GREETING=hello\n")) << env;
  EXPECT_TRUE(contains(env, "SELF=" + address(port) + "\n")) << env;
  std::istringstream log(calls());
  bool secret_in_environment = false;
  for (std::string line; std::getline(log, line);) {
    if (line.starts_with("ARGS")) {
      EXPECT_FALSE(contains(line, secret)) << line;
    }
    if (line == "ENV APP_SECRET=" + secret) secret_in_environment = true;
  }
  EXPECT_TRUE(secret_in_environment);
  if (DIR* procs = opendir("/proc")) {
    while (dirent* entry = readdir(procs)) {
      const std::string cmdline = read_file(fs::path("/proc") / entry->d_name / "cmdline").value_or("");
      EXPECT_FALSE(contains(cmdline, secret)) << entry->d_name;
    }
    closedir(procs);
  }

  // Starting again touches nothing.
  const std::string id_before = inspect("torvo-" + full, "{{.Id}}");
  RunOutput again = zelk({"start", full});
  ASSERT_EQ(again.exit_code, 0) << again.stderr_text;
  EXPECT_EQ(again.stdout_text, "Waiting for Full app to answer on port " + std::to_string(port) +
                                   " ...\nFull app is ready: " + address(port) + "\n");
  EXPECT_EQ(inspect("torvo-" + full, "{{.Id}}"), id_before);

  // A changed setting makes the app's container anew; the data in its volume stays.
  ASSERT_TRUE(run_runtime({"exec", "torvo-" + full, "sh", "-c", "echo kept > /data/mark"}));
  ASSERT_TRUE(write_settings(home_.path(), full, set_setting(text, "GREETING", "changed")));
  RunOutput updated = zelk({"install", full});
  ASSERT_EQ(updated.exit_code, 0) << updated.stderr_text;
  EXPECT_EQ(updated.stdout_text,
            "Updating Full app to the current recipe and settings. Its data is kept.\n"
            "Waiting for Full app to answer on port " + std::to_string(port) + " ...\n"
            "Full app is ready: " + address(port) + "\n");
  EXPECT_NE(inspect("torvo-" + full, "{{.Id}}"), id_before);
  EXPECT_TRUE(contains(inspect("torvo-" + full, "{{range .Config.Env}}{{println .}}{{end}}"), "GREETING=changed\n"));
  EXPECT_EQ(trimmed(run_runtime({"exec", "torvo-" + full, "cat", "/data/mark"}).value_or("")), "kept");

  // Logs of the app, and of its helper.
  RunOutput app_logs = zelk({"logs", full});
  ASSERT_EQ(app_logs.exit_code, 0) << app_logs.stderr_text;
  EXPECT_TRUE(app_logs.stdout_text.ends_with("\nThese are the logs of Full app itself. Its helpers:\n  zelk logs " +
                                             full + " cache\n"))
      << app_logs.stdout_text;
  RunOutput helper_logs = zelk({"logs", full, "cache"});
  ASSERT_EQ(helper_logs.exit_code, 0) << helper_logs.stderr_text;
  EXPECT_TRUE(contains(helper_logs.stdout_text, "hello-from-cache\n")) << helper_logs.stdout_text;
  EXPECT_FALSE(contains(helper_logs.stdout_text, "These are the logs"));

  // Stopped behind Zelk's back, both apps come back with "resume". The containers are read
  // again after each start, so Full app finds Base app running and does not start it again.
  ASSERT_TRUE(run_runtime({"stop", "torvo-" + full, "torvo-" + full + "-cache", "torvo-" + base}));
  RunOutput resumed = zelk({"resume"});
  ASSERT_EQ(resumed.exit_code, 0) << resumed.stderr_text << resumed.stdout_text;
  const std::string base_back = "Starting Base app with " + rt + " ...\n"
                                "Waiting for Base app to answer on port " + std::to_string(base_port) + " ...\n"
                                "Base app is ready: " + address(base_port) + "\n";
  EXPECT_EQ(resumed.stdout_text,
            base_back +
            "Starting Full app's helper \"cache\" with " + rt + " ...\n"
            "Starting Full app with " + rt + " ...\n"
            "Waiting for Full app to answer on port " + std::to_string(port) + " ...\n"
            "Full app is ready: " + address(port) + "\n");

  // Stop one, then all.
  RunOutput stopped = zelk({"stop", full});
  ASSERT_EQ(stopped.exit_code, 0) << stopped.stderr_text;
  EXPECT_EQ(stopped.stdout_text, "Full app is stopped.\n");
  EXPECT_FALSE(fs::exists(running_marker_path(home_.path(), full)));
  EXPECT_EQ(inspect("torvo-" + full + "-cache", "{{.State.Running}}"), "false");
  EXPECT_EQ(zelk({"stop", full}).stdout_text, "Full app is already stopped.\n");
  ASSERT_EQ(zelk({"start", full}).exit_code, 0);
  RunOutput all = zelk({"stop", "--all"});
  ASSERT_EQ(all.exit_code, 0) << all.stderr_text;
  EXPECT_EQ(all.stdout_text, "Stopped: Base app, Full app. Their data stays.\n");
  EXPECT_EQ(zelk({"stop", "--all"}).stdout_text, "No app was running.\n");
  EXPECT_EQ(zelk({"resume"}).stdout_text, "No app was left running, so there is nothing to bring back.\n");

  // Remove keeps the data volume and the settings.
  RunOutput removed = zelk({"remove", full});
  ASSERT_EQ(removed.exit_code, 0) << removed.stderr_text;
  EXPECT_EQ(removed.stdout_text, "Full app is removed. Its data volumes and settings are kept.\n");
  EXPECT_FALSE(exists({"container", "inspect", "torvo-" + full}));
  EXPECT_FALSE(exists({"container", "inspect", "torvo-" + full + "-cache"}));
  EXPECT_TRUE(exists({"volume", "inspect", "torvo-" + full + "-data"}));
  EXPECT_EQ(settings(full), set_setting(text, "GREETING", "changed"));
  RunOutput not_installed = zelk({"remove", full});
  EXPECT_EQ(not_installed.exit_code, 1);
  EXPECT_EQ(not_installed.stderr_text, "zelk: Full app is not installed.\n");

  // Everything: first only the report, then for good; the folder named by ZELK_HOME stays, and
  // nothing is marked to come back.
  ASSERT_EQ(zelk({"start", base}).exit_code, 0);
  ASSERT_TRUE(fs::exists(running_marker_path(home_.path(), base)));
  RunOutput report = zelk({"remove", "--everything"});
  ASSERT_EQ(report.exit_code, 0) << report.stderr_text;
  EXPECT_EQ(report.stdout_text,
            "This removes for good 1 container and 1 data volume with everything saved in the apps Base app and "
            "Full app, and the apps' images and networks.\n" +
                std::string(runtime() == "podman" ? "Back up what you want to keep first: zelk backup <app>\n"
                                                  : "Backups need Podman, and the apps run with Docker here: copy "
                                                    "what you want to keep out of the apps first.\n") +
                "To go ahead: zelk remove --everything --yes\n");
  EXPECT_TRUE(exists({"container", "inspect", "torvo-" + base}));
  RunOutput everything = zelk({"remove", "--everything", "--yes"});
  ASSERT_EQ(everything.exit_code, 0) << everything.stderr_text;
  EXPECT_EQ(everything.stdout_text,
            "The data folder " + path_to_utf8(home_.path()) +
                " was named with ZELK_HOME, so it is left for you to delete.\n"
                "Every app and its data are removed. Uninstall the Zelk, and " + rt +
                " if nothing else needs it, the way you installed them.\n");
  EXPECT_FALSE(exists({"container", "inspect", "torvo-" + base}));
  EXPECT_FALSE(exists({"volume", "inspect", "torvo-" + full + "-data"}));
  EXPECT_FALSE(exists({"network", "inspect", "torvo-" + base}));
  EXPECT_FALSE(exists({"network", "inspect", "torvo-" + full + "_default"}));
  EXPECT_FALSE(exists({"image", "inspect", image_}));
  EXPECT_TRUE(fs::exists(settings_path(home_.path(), full)));
  EXPECT_EQ(zelk({"resume"}).stdout_text, "No app was left running, so there is nothing to bring back.\n");
}

// An app on the network of the app it uses answers there under its container's name only: its
// id names it to its own helpers alone, and an id that would be another app's name is refused.
TEST_P(AppsOnRealRuntime, AnAppCannotAnswerAsAnotherOnThatAppsNetwork) {
  const std::string base = new_id("base");
  const std::string user = new_id("user");
  write_recipe(base, base_recipe(base, image_, free_port()));
  write_recipe(user, full_recipe(user, base, image_, free_port()));
  RunOutput started = zelk({"start", user});
  ASSERT_EQ(started.exit_code, 0) << started.stderr_text;

  // The image's busybox is static, so only its own resolver looks names up in the network.
  const auto resolves = [&](const std::string& container, const std::string& name) {
    auto run = runner_.run_captured(runtime(), {"exec", container, "busybox", "nslookup", name}, program_limit);
    return run && run->success() && contains(run->stdout_text, "Name:");
  };
  EXPECT_TRUE(resolves("torvo-" + base, "torvo-" + user));
  EXPECT_FALSE(resolves("torvo-" + base, user));
  EXPECT_TRUE(resolves("torvo-" + user + "-cache", user));
  EXPECT_TRUE(resolves("torvo-" + user, "torvo-" + base));

  // A recipe that would be named as the other app's container is not even read.
  const fs::path impostor = work_.path() / "impostor.yaml";
  ASSERT_TRUE(write_file_atomically(impostor, full_recipe("torvo-" + base, base, image_, free_port())));
  RunOutput checked = zelk({"check", path_to_utf8(impostor)});
  EXPECT_EQ(checked.exit_code, 1);
  EXPECT_EQ(checked.stderr_text,
            "zelk: " + path_to_utf8(impostor) +
                "\n  x-zelk: \"id\" cannot begin with \"torvo-\": the Zelk names the containers and volumes of "
                "every app that way. Choose an id without it.\n");
}

// Two first starts of one app at once: the second waits for the first, says so, and then finds
// the app made and running. The app answers only after a few seconds, so the two overlap.
TEST_P(AppsOnRealRuntime, TwoFirstStartsAtOnceEndWellOneAfterTheOther) {
  const std::string id = new_id("twice");
  const std::uint16_t port = free_port();
  write_recipe(id, single_recipe(id, "Twice", image_, port, {"sh", "-c", "sleep 3; exec /entry.sh"}));
  RunOutput runs[2];
  {
    std::jthread one([&] { runs[0] = zelk({"start", id}); });
    std::jthread two([&] { runs[1] = zelk({"start", id}); });
  }
  const std::string ready = "Waiting for Twice to answer on port " + std::to_string(port) + " ...\nTwice is ready: " +
                            address(port) + "\n";
  const std::string installed = "Installing Twice with " + display() + " ...\n" + ready;
  const std::string waited = "Waiting for another Zelk command on Twice to end ...\n" + ready;
  for (const RunOutput& run : runs) {
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    EXPECT_EQ(run.stderr_text, "");
  }
  const bool first_installed = runs[0].stdout_text == installed;
  EXPECT_EQ(runs[first_installed ? 0 : 1].stdout_text, installed);
  EXPECT_EQ(runs[first_installed ? 1 : 0].stdout_text, waited);
  EXPECT_EQ(http_probe(port, "/index.html"), 200);
}

// The runtime restarts a container that ends at once for ever (its restart policy): the start
// that gives up on it stops it, and keeps it for its logs.
TEST_P(AppsOnRealRuntime, AnAppWhoseContainerEndsAtOnceSaysSoAndIsStoppedButKept) {
  const std::string id = new_id("ends");
  const std::string said = "No settings were found in /data";
  write_recipe(id, single_recipe(id, "Ends at once", image_, free_port(), {"sh", "-c", "echo " + said + "; exit 3"}));
  RunOutput started = zelk({"start", id});
  EXPECT_EQ(started.exit_code, 1);
  // The runtime has restarted it many times by the first look.
  EXPECT_EQ(started.stderr_text, "zelk: Ends at once does not stay running. See: zelk logs " + id + "\n");
  EXPECT_FALSE(fs::exists(running_marker_path(home_.path(), id)));

  const std::string container = "torvo-" + id;
  EXPECT_EQ(inspect(container, "{{.State.Status}}"), "exited");
  const std::string restarts = inspect(container, "{{.RestartCount}}");
  std::this_thread::sleep_for(3s);  // time for several restarts, were it still restarting
  EXPECT_EQ(inspect(container, "{{.RestartCount}}"), restarts);
  EXPECT_EQ(inspect(container, "{{.State.Status}}"), "exited");

  RunOutput logs = zelk({"logs", id});
  EXPECT_EQ(logs.exit_code, 0) << logs.stderr_text;
  std::istringstream lines(logs.stdout_text);
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) EXPECT_EQ(line, said);
  EXPECT_GE(count, 1u);
}

// Neither image can be had: a registry whose name is not found, and the local registry, which
// has no such image. Each is asked for once, through the runtime's API, and the run that would
// ask again is not made.
TEST_P(AppsOnRealRuntime, AnImageThatCannotBeFetchedSaysWhyOnce) {
  const std::string id = new_id("unfetchable");
  const std::string unknown_host = "nohost.invalid/zelk-e2e/none:1.0";
  const std::string missing = "127.0.0.1:5000/zelk-e2e-" + std::to_string(::getpid()) + "/none:1.0";
  write_recipe(id, single_recipe(id, "Unfetchable", unknown_host, free_port(), {}, missing));
  RunOutput started = zelk({"start", id});
  EXPECT_EQ(started.exit_code, 1);
  EXPECT_EQ(started.stdout_text, "Installing Unfetchable with " + display() +
                                     " ...\nThe image did not arrive from nohost.invalid. Trying " + missing +
                                     " ...\n");
  EXPECT_EQ(started.stderr_text,
            "zelk: Unfetchable could not be installed.\nThe image " + unknown_host +
                " could not be fetched: there is no connection (the name nohost.invalid could not be found).\n"
                "The image " + missing + " is not there: 127.0.0.1:5000 has no image of that name and version.\n"
                "Check the connection, then try again: zelk start " + id + "\n");
  std::istringstream log(calls());
  for (std::string line; std::getline(log, line);) {
    EXPECT_FALSE(line.starts_with("ARGS run") || line.starts_with("ARGS create") || line.starts_with("ARGS pull"))
        << line;
  }
  EXPECT_FALSE(exists({"container", "inspect", "torvo-" + id}));
}

// An app that dies a few seconds after each start is restarted by the runtime for ever, and is
// up at most looks: its restart count gives it away, and the start stops it, kept for its logs.
TEST_P(AppsOnRealRuntime, AnAppThatKeepsDyingIsFoundByItsRestartsAndStopped) {
  const std::string id = new_id("dies");
  write_recipe(id, single_recipe(id, "Dies later", image_, free_port(), {"sh", "-c", "sleep 3; exit 3"}));
  RunOutput started = zelk({"start", id});
  EXPECT_EQ(started.exit_code, 1);
  EXPECT_EQ(started.stderr_text, "zelk: Dies later does not stay running. See: zelk logs " + id + "\n");
  EXPECT_TRUE(started.stdout_text.ends_with("Stopping Dies later so that " + display() +
                                            " does not start it again and again ...\n"))
      << started.stdout_text;
  const std::string container = "torvo-" + id;
  EXPECT_EQ(inspect(container, "{{.State.Status}}"), "exited");
  const std::string restarts = inspect(container, "{{.RestartCount}}");
  std::this_thread::sleep_for(4s);  // time for a restart and a death, were it still restarting
  EXPECT_EQ(inspect(container, "{{.RestartCount}}"), restarts);
  EXPECT_FALSE(fs::exists(running_marker_path(home_.path(), id)));
}

// A running app moved to a port that another program holds is refused before its container is
// made anew: it stays up on its old port.
TEST_P(AppsOnRealRuntime, AnAppMovedToABusyPortIsRefusedAndStaysUp) {
  const std::string id = new_id("moved");
  const std::uint16_t port = free_port();
  write_recipe(id, single_recipe(id, "Moved app", image_, port));
  RunOutput installed = zelk({"start", id});
  ASSERT_EQ(installed.exit_code, 0) << installed.stderr_text;

  const ReadyListener other_program;  // holds its port on 127.0.0.1
  const fs::path file = settings_path(home_.path(), id);
  const std::string moved_to = std::to_string(other_program.port());
  ASSERT_TRUE(write_file_atomically(file, set_setting(settings(id), "TORVO_PORT", moved_to)));
  RunOutput moved = zelk({"start", id});
  EXPECT_EQ(moved.exit_code, 1);
  EXPECT_EQ(moved.stderr_text, "zelk: Moved app cannot use port " + moved_to +
                                   " on 127.0.0.1: another program holds it. Nothing was changed. Stop that program, "
                                   "or give Moved app another port: TORVO_PORT in " + path_to_utf8(file) + "\n");
  EXPECT_EQ(moved.stdout_text, "");
  EXPECT_EQ(inspect("torvo-" + id, "{{.State.Running}}"), "true");
  EXPECT_EQ(http_probe(port, "/index.html"), std::optional<std::uint16_t>(200));
  EXPECT_TRUE(other_program.requests().empty());
}

TEST_P(AppsOnRealRuntime, AnAppThatNeverAnswersGivesUpAfterItsAttempts) {
  // The container runs but never listens; the probe and the sleep are the test's, so the 120
  // attempts take no time, while every fifth one lists the real containers.
  const std::string id = new_id("mute");
  std::vector<Recipe> recipes{read_recipe(single_recipe(id, "Mute", image_, free_port(),
                                                        {"sh", "-c", "trap 'exit 0' TERM; sleep 100000 & wait"}))
                                  .value()};
  InProcess here(*this, recipes);
  here.fake.probe_answer = [](std::uint16_t, std::string_view) { return std::nullopt; };
  here.fake.sleep = [&](std::chrono::nanoseconds pause) { here.fake.sleeps.push_back(pause); };
  CommandContext ctx = here.fake.context(&runner_);
  CommandResult result = run_command(ctx, {"start", id});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Mute was started but did not answer on " + address(recipes[0].port, "/index.html") +
                                " within 240 seconds. See: zelk logs " + id);
  EXPECT_EQ(here.fake.probes.size(), 120u);
  EXPECT_EQ(here.fake.sleeps, std::vector<std::chrono::nanoseconds>(120, 2s));
  EXPECT_EQ(inspect("torvo-" + id, "{{.State.Running}}"), "true");
}

TEST_P(AppsOnRealRuntime, OpenStartsTheAppAndOpensItsAddress) {
  const std::string id = new_id("open");
  std::vector<Recipe> recipes{read_recipe(single_recipe(id, "Opened app", image_, free_port())).value()};
  const std::string where = address(recipes[0].port);
  {
    InProcess here(*this, recipes);
    CommandContext ctx = here.fake.context(&runner_);
    ASSERT_TRUE(run_command(ctx, {"open", id}));
    EXPECT_EQ(here.fake.opened, std::vector<std::string>{where});
    EXPECT_TRUE(here.fake.output.text.ends_with(" is ready: " + where + "\nOpened " + where + "\n"))
        << here.fake.output.text;
  }
  {
    // Ready now: nothing is started, the address opens at once.
    InProcess here(*this, recipes);
    CommandContext ctx = here.fake.context(&runner_);
    ASSERT_TRUE(run_command(ctx, {"open", id}));
    EXPECT_EQ(here.fake.output.text, "Opened " + where + "\n");
  }
}

// "model" against an app with the id "ollama" (run in this process, since an added recipe
// cannot take a built-in id), whose image has a stand-in "ollama" program: a pull of a name
// that starts with "missing" fails, every other one succeeds.
TEST_P(AppsOnRealRuntime, ModelAsksOllamaInsideItsContainer) {
  const std::string image = "localhost/zelk-e2e-" + std::to_string(::getpid()) + "-ollama:1";
  const std::string maker = "zelk-e2e-" + std::to_string(::getpid()) + "-maker";
  ASSERT_TRUE(run_runtime({"run", "--name", maker, image_, "sh", "-c",
                           "printf '#!/bin/sh\\ncase \"$2\" in missing*) echo \"no $2\" >&2; exit 1;; esac\\n"
                           "echo \"pulled $2\"\\n' > /bin/ollama && chmod 755 /bin/ollama"}));
  ASSERT_TRUE(run_runtime({"commit", "--change", "CMD [\"/entry.sh\"]", maker, image}));
  images_.push_back(image);
  (void)runner_.run_captured(runtime(), {"rm", "-f", maker}, program_limit);

  // The container gets a name of this test's own, so that no other test that stops or removes
  // every known app (the built-in Ollama among them) touches it.
  std::vector<Recipe> recipes{read_recipe(single_recipe("ollama", "Ollama", image, free_port())).value()};
  const std::string own = new_id("ollama");
  recipes[0].container = "torvo-" + own;
  {
    InProcess here(*this, recipes);
    CommandContext ctx = here.fake.context(&runner_);
    CommandResult fetched = run_command(ctx, {"model"});
    ASSERT_TRUE(fetched) << fetched.error();
    EXPECT_TRUE(here.fake.output.text.ends_with(
        "Fetching the model llama3.2:3b into Ollama, about 2 GB the first time ...\n"
        "The model llama3.2:3b is ready. In Open WebUI, choose it at the top of a new chat.\n"))
        << here.fake.output.text;
  }
  {
    InProcess here(*this, recipes);
    CommandContext ctx = here.fake.context(&runner_);
    CommandResult failed = run_command(ctx, {"model", "missing:1b"});
    ASSERT_FALSE(failed);
    EXPECT_EQ(
        failed.error(),
        "Ollama could not fetch missing:1b (exit code 1). Check the name and the connection. See: zelk logs ollama");
    EXPECT_EQ(here.fake.output.text, "Fetching the model missing:1b into Ollama ...\n");
  }
}

// An app installed while only Docker answered is kept by Docker: once Podman answers, a start
// does not make it anew, empty, in Podman, but says where it is and how to go on.
class KeptByDocker : public AppsOnRealRuntime {
 protected:
  void TearDown() override {
    if (!id_.empty()) (void)runner_.run_captured("docker", {"rm", "-f", "torvo-" + id_}, program_limit);
    if (docker_image_) (void)runner_.run_captured("docker", {"rmi", "-f", image_}, program_limit);
    AppsOnRealRuntime::TearDown();
  }
  std::string id_;
  bool docker_image_ = false;
};

TEST_P(KeptByDocker, AFirstStartWithPodmanSaysWhereTheAppIs) {
  auto docker = runner_.run_captured("sh", {"-c", "docker ps -q >/dev/null && command -v docker"}, program_limit);
  if (!docker || !docker->success()) {
    if (in_ci()) FAIL() << "Docker does not answer here: " << describe(docker);
    GTEST_SKIP() << "Docker does not answer here: " << describe(docker);
  }
  const fs::path only_docker = work_.path() / "only-docker";
  fs::create_directories(only_docker);
  fs::create_symlink(path_from_utf8(trimmed(docker->stdout_text)), only_docker / "docker");
  ASSERT_TRUE(import_test_image(runner_, "docker", work_.path() / "docker-image", image_));
  docker_image_ = true;

  id_ = new_id("kept");
  const std::string name = "Kept app";
  write_recipe(id_, single_recipe(id_, name, image_, free_port()));
  const std::vector<std::string> docker_start{"ZELK_HOME=" + path_to_utf8(home_.path()),
                                               "PATH=" + path_to_utf8(only_docker), ZELK_BINARY, "start", id_};
  auto in_docker = runner_.run_captured("env", docker_start, 600s);
  ASSERT_TRUE(in_docker && in_docker->success()) << describe(in_docker);

  RunOutput with_podman = zelk({"start", id_});
  EXPECT_EQ(with_podman.exit_code, 1);
  EXPECT_EQ(with_podman.stderr_text,
            "zelk: " + name + " is not installed in Podman, but Docker keeps it: torvo-" + id_ +
                ". The Zelk uses Podman while it answers, so a start here would make " + name +
                " anew, without that data. Nothing was changed.\n"
                "  To go on with the copy in Docker: stop Podman, then start " + name + " again.\n"
                "  To make it anew in Podman instead, remove it from Docker first (its data goes with it): "
                "docker rm -f torvo-" + id_ + "\n");
  EXPECT_FALSE(exists({"container", "exists", "torvo-" + id_}));
  auto still = runner_.run_captured("docker", {"inspect", "--format", "{{.State.Running}}", "torvo-" + id_},
                                    program_limit);
  ASSERT_TRUE(still && still->success()) << describe(still);
  EXPECT_EQ(trimmed(still->stdout_text), "true");
}

INSTANTIATE_TEST_SUITE_P(Runtimes, KeptByDocker, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

INSTANTIATE_TEST_SUITE_P(Runtimes, AppsOnRealRuntime,
                         ::testing::Values(RuntimeUnderTest{"podman", "Podman"}, RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

// ---- image pulls through Podman's API from a local registry -------------------------------

constexpr const char* registry = "127.0.0.1:5000";

class PullThroughPodmansApi : public AppsOnRealRuntime {
 protected:
  void SetUp() override {
    AppsOnRealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    auto answers = runner_.run_captured("curl", {"-sf", std::string("http://") + registry + "/v2/"}, 20s);
    TestContext fake(home_.path());
    const std::optional<std::string> endpoint = find_podman_api(fake.context(&runner_));
    const bool api_ok = endpoint && fs::exists(path_from_utf8(*endpoint));
    if (!(answers && answers->success()) || !api_ok) {
      const std::string why = "No local registry on 127.0.0.1:5000 or no Podman API service; "
                              "scripts/services.sh starts both.";
      if (in_ci()) FAIL() << why;
      GTEST_SKIP() << why;
    }
    // The test image, only in the registry.
    remote_ = std::string(registry) + "/zelk-e2e-" + std::to_string(::getpid()) + "/page:1.0";
    images_.push_back(remote_);
    ASSERT_TRUE(run_runtime({"push", "--tls-verify=false", image_, remote_}));
    (void)runner_.run_captured("podman", {"rmi", "-f", remote_}, program_limit);
    ASSERT_FALSE(exists({"image", "exists", remote_}));
  }

  /// The runtime calls in their order, arguments only.
  std::vector<std::string> argument_lines() {
    std::vector<std::string> lines;
    std::istringstream log(calls());
    for (std::string line; std::getline(log, line);) {
      if (line.starts_with("ARGS ")) lines.push_back(line.substr(5));
    }
    return lines;
  }

  std::string remote_;
};

TEST_P(PullThroughPodmansApi, AnImageOnlyInTheRegistryArrivesBeforeTheRun) {
  const std::string id = new_id("pull");
  const std::uint16_t port = free_port();
  write_recipe(id, single_recipe(id, "Pulled app", remote_, port));
  RunOutput started = zelk({"start", id});
  ASSERT_EQ(started.exit_code, 0) << started.stderr_text;
  EXPECT_EQ(started.stdout_text,
            "Installing Pulled app with Podman ...\n"
            "Waiting for Pulled app to answer on port " + std::to_string(port) + " ...\n"
            "Pulled app is ready: " + address(port) + "\n");
  // Missing, then there after the pull through the API, and only then the run.
  std::vector<std::string> lines;
  for (const std::string& line : argument_lines()) {
    if (line.starts_with("image exists") || line.starts_with("info") || line.starts_with("run")) {
      lines.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
    }
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"image exists", "info --format", "image exists", "run -d"}));
  EXPECT_EQ(inspect("torvo-" + id, "{{.ImageName}}"), remote_);
}

TEST_P(PullThroughPodmansApi, TheFallbackImageIsPulledWhenTheFirstDoesNotExist) {
  const std::string id = new_id("fallback");
  const std::uint16_t port = free_port();
  const std::string missing = std::string(registry) + "/zelk-e2e-" + std::to_string(::getpid()) + "/none:1.0";
  write_recipe(id, single_recipe(id, "Fallback app", missing, port, {}, remote_));
  RunOutput started = zelk({"start", id});
  ASSERT_EQ(started.exit_code, 0) << started.stderr_text;
  EXPECT_EQ(started.stdout_text,
            "Installing Fallback app with Podman ...\n"
            "The image did not arrive from 127.0.0.1:5000. Trying " + remote_ + " ...\n"
            "Waiting for Fallback app to answer on port " + std::to_string(port) + " ...\n"
            "Fallback app is ready: " + address(port) + "\n");
  EXPECT_EQ(inspect("torvo-" + id, "{{.ImageName}}"), remote_);
  const std::vector<std::string> lines = argument_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines.back().starts_with("run -d --name torvo-" + id)) << lines.back();
  EXPECT_TRUE(lines.back().ends_with(" " + remote_)) << lines.back();
}

INSTANTIATE_TEST_SUITE_P(Runtimes, PullThroughPodmansApi, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
