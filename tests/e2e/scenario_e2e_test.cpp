#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "apps.h"
#include "e2e_support.h"
#include "envfile.h"
#include "file_text.h"
#include "files.h"
#include "flow_support.h"
#include "local_web_server.h"
#include "platform.h"
#include "runtime.h"
#include "scripts_posix.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;

std::string padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

std::string list_row(const std::string& id, const std::string& state, std::uint16_t port, const std::string& open) {
  return padded(id, 12) + " " + padded(state, 14) + " http://127.0.0.1:" + std::to_string(port) + open + "\n";
}

/// The table "zelk list" shows of the built-in apps, none of them installed, then the rows given.
std::string list_table(const std::string& more_rows = {}) {
  std::string table = "APP          STATE          ADDRESS\n";
  for (const Recipe& recipe : builtin_recipes())
    table += list_row(recipe.id, "not installed", recipe.port, recipe.open);
  return table + more_rows;
}

/// A person's first hour with Zelk, from an empty data folder to removing everything, through
/// the zelk program as a separate process: a recipe from a web server, a browser that only
/// records what it was asked to open, and the real runtime.
class NewUser : public RealRuntime {
 protected:
  void SetUp() override {
    RealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    id = app_id("new");
    container = "torvo-" + id;
    pages = "torvo-" + id + "-pages";
    notes = "torvo-" + id + "-notes";
    port = free_port();
    data = home_.path() / "zelk data";
    opened = bin_.path() / "opened.txt";
    write_script(bin_.path(), "xdg-open", "printf '%s\\n' \"$1\" >> '" + path_to_utf8(opened) + "'\n");
    // The runtime's own PATH, which for Docker shows no Podman, with the browser and curl.
    auto curl = runner_.run_captured("sh", {"-c", "command -v curl"}, std::chrono::seconds(30));
    ASSERT_TRUE(curl && curl->success()) << describe(curl);
    std::string curl_path = curl->stdout_text;
    while (!curl_path.empty() && curl_path.back() == '\n') curl_path.pop_back();
    fs::create_symlink(path_from_utf8(curl_path), bin_.path() / "curl");
    path = path_to_utf8(bin_.path()) + ":" + zelk_path();
    server.put(id + ".yaml", keeper_recipe(id, "Keeper", port, image_));
  }

  void TearDown() override {
    if (!id.empty()) {
      (void)runner_.run_captured(runtime(), {"rm", "-f", container}, std::chrono::seconds(120));
      (void)runner_.run_captured(runtime(), {"volume", "rm", "-f", pages, notes}, std::chrono::seconds(120));
    }
    RealRuntime::TearDown();
  }

  /// Runs zelk and expects it to succeed with exactly this output and nothing on its errors.
  void expect_output(const std::vector<std::string>& args, const std::string& out) {
    const ProgramRun run = run_zelk_program(runner_, data, path, args);
    std::string command = "zelk";
    for (const std::string& arg : args) command += " " + arg;
    EXPECT_EQ(run.code, 0) << command << "\n" << run.err;
    EXPECT_EQ(run.out, out) << command;
    EXPECT_EQ(run.err, "") << command;
  }

  std::string started(const std::string& how) {
    return how + " Keeper with " + GetParam().display_name + " ...\n" + ready();
  }

  std::string ready() {
    return "Waiting for Keeper to answer on port " + std::to_string(port) + " ...\nKeeper is ready: " + address() +
           "\n";
  }

  std::string address() { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

  std::string page(const std::string& file) { return http_body(runner_, port, file).value_or("<no answer>"); }

  bool volume_exists(const std::string& volume) {
    auto run = runner_.run_captured(runtime(), {"volume", "inspect", volume}, std::chrono::seconds(60));
    return run && run->success();
  }

  std::string description() {
    return "Keeper (Tests)\n"
           "  A page that shows its two volumes and its environment.\n"
           "  Image:    " + image_ + "\n"
           "  Address:  " + address() + " (this computer only)\n"
           "  Data:     " + pages + ", inside the app at /www/pages\n"
           "  Data:     " + notes + ", inside the app at /www/notes\n"
           "  Secrets:  E2E_SECRET (made on this computer at the first start)\n";
  }

  LocalWebServer server;
  TestFolder bin_;
  fs::path data, opened;
  std::string path, id, container, pages, notes;
  std::uint16_t port = 0;
};

TEST_P(NewUser, WalksFromAnEmptyDataFolderToRemovingEverything) {
  ASSERT_FALSE(fs::exists(data));
  expect_output({"list"}, list_table());

  const std::string recipe_address = server.address(id + ".yaml");
  expect_output({"add", recipe_address},
                description() + "\nKeeper is in the list now.\n"
                                "Nobody has reviewed this recipe. It runs a program from the image named above: add "
                                "it only if you trust who gave it to you.\n"
                                "Start it with: zelk start " + id + "\n");
  expect_output({"check", recipe_address},
                description() + "\nThe recipe is complete. This Zelk could run it.\n"
                                "It would replace the recipe with the same id that was added before.\n");
  expect_output({"list"}, list_table(list_row(id, "not installed", port, "/")));

  expect_output({"start", id}, started("Installing"));
  expect_output({"list"}, list_table(list_row(id, "ready", port, "/")));
  const std::string secret = line_value(read_file(settings_path(data, id)).value_or(""), "E2E_SECRET").value_or("");
  EXPECT_EQ(secret.size(), 48u);
  EXPECT_EQ(line_value(page("/env.txt"), "SECRET"), secret);
  EXPECT_EQ(line_value(page("/env.txt"), "GREETING"), "hello");
  ASSERT_TRUE(run_runtime({"exec", container, "sh", "-c", "echo kept > /www/pages/kept.txt"}));

  expect_output({"open", id}, "Opened " + address() + "\n");
  EXPECT_EQ(wait_for_text(opened), address() + "\n");

  // The user changes a setting in the settings file; the next start makes the container anew.
  const fs::path settings = settings_path(data, id);
  std::string text = read_file(settings).value_or("");
  const std::size_t greeting = text.find("GREETING=hello\n");
  ASSERT_NE(greeting, std::string::npos) << text;
  text.replace(greeting, 15, "GREETING=bonjour\n");
  std::ofstream(settings, std::ios::binary | std::ios::trunc) << text;
  expect_output({"start", id}, "Updating Keeper to the current recipe and settings. Its data is kept.\n" + ready());
  EXPECT_EQ(line_value(page("/env.txt"), "GREETING"), "bonjour");
  EXPECT_EQ(line_value(page("/env.txt"), "SECRET"), secret);
  EXPECT_EQ(page("/pages/kept.txt"), "kept\n");

  if (runtime() == "podman") {
    const fs::path base = home_.path() / "Valdroven AI Zelk backups";
    const ProgramRun backup = run_zelk_program(runner_, data, path, {"backup", id});
    const std::vector<std::string> made = entry_names(base);
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(backup.code, 0) << backup.err;
    EXPECT_EQ(backup.err, "");
    EXPECT_EQ(backup.out, "Stopping Keeper for the copy ...\nCopying " + pages + " ...\nCopying " + notes + " ...\n" +
                              started("Starting") + "Keeper is backed up in " + path_to_utf8(base / made[0]) +
                              ". Keep the whole folder: it holds the app's data and its passwords.\n");
    EXPECT_EQ(entry_names(base / made[0]), (std::vector<std::string>{"settings.env", notes + ".tar", pages + ".tar"}));
  } else {
    const ProgramRun backup = run_zelk_program(runner_, data, path, {"backup", id});
    EXPECT_EQ(backup.code, 1);
    EXPECT_EQ(backup.out, "");
    EXPECT_EQ(backup.err, "zelk: Backups need Podman. Docker has no command to copy an app's data volumes.\n");
  }

  expect_output({"stop", "--all"}, "Stopped: Keeper. Its data stays.\n");
  expect_output({"list"}, list_table(list_row(id, "exited", port, "/")));
  expect_output({"resume"}, "No app was left running, so there is nothing to bring back.\n");

  // Started again and then ended from outside, as a restart of the computer would: resume
  // brings it back.
  expect_output({"start", id}, started("Starting"));
  ASSERT_TRUE(run_runtime({"stop", container}));
  expect_output({"resume"}, started("Starting"));
  EXPECT_EQ(page("/pages/kept.txt"), "kept\n");

  expect_output({"remove", id}, "Keeper is removed. Its data volumes and settings are kept.\n");
  EXPECT_TRUE(volume_exists(pages));
  EXPECT_TRUE(fs::exists(settings));
  expect_output({"forget", id}, "Keeper is out of the list. Its data and settings were not touched.\n");
  expect_output({"list"}, list_table());

  // With Docker, backups are not offered, and the runtime to uninstall is Docker.
  const bool podman = runtime() == "podman";
  expect_output({"remove", "--everything"},
                "No app has containers or data volumes. This removes for good only the apps' images and networks "
                "that are left.\n" +
                    std::string(podman ? "Back up what you want to keep first: zelk backup <app>\n"
                                       : "Backups need Podman, and the apps run with Docker here: copy what you "
                                         "want to keep out of the apps first.\n") +
                    "To go ahead: zelk remove --everything --yes\n");
  expect_output({"remove", "--everything", "--yes"},
                "The data folder " + path_to_utf8(data) +
                    " was named with ZELK_HOME, so it is left for you to delete.\n"
                    "Every app and its data are removed. Uninstall the Zelk, and " +
                    std::string(podman ? "Podman" : "Docker") + " if nothing else needs it, the way you installed "
                    "them.\n");
  EXPECT_TRUE(fs::exists(data));
  // The forgotten app is no longer one of "every app": its data stays until the user removes it.
  EXPECT_TRUE(volume_exists(pages));
  EXPECT_TRUE(volume_exists(notes));
}

INSTANTIATE_TEST_SUITE_P(Runtimes, NewUser,
                         ::testing::Values(RuntimeUnderTest{"podman", "Podman"}, RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
