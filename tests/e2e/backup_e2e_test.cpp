#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "e2e_support.h"
#include "envfile.h"
#include "files.h"
#include "flow_support.h"
#include "platform.h"
#include "runtime.h"
#include "zelk/backup.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;

/// An added app with two data volumes, and everything the test made removed at its end.
class Backups : public RealRuntime {
 protected:
  void SetUp() override {
    RealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    id = app_id("keep");
    container = "torvo-" + id;
    pages = "torvo-" + id + "-pages";
    notes = "torvo-" + id + "-notes";
    port = free_port();
    data = home_.path() / "zelk data";
    fs::create_directories(data / "recipes");
    std::ofstream(data / "recipes" / (id + ".yaml"), std::ios::binary) << keeper_recipe(id, "Keeper", port, image_);
  }

  void TearDown() override {
    if (!id.empty()) {
      (void)runner_.run_captured(runtime(), {"rm", "-f", container}, std::chrono::seconds(120));
      (void)runner_.run_captured(runtime(), {"volume", "rm", "-f", pages, notes}, std::chrono::seconds(120));
    }
    RealRuntime::TearDown();
  }

  ProgramRun zelk(const std::vector<std::string>& args) {
    return run_zelk_program(runner_, data, zelk_path(), args);
  }

  bool volume_exists(const std::string& volume) {
    auto run = runner_.run_captured(runtime(), {"volume", "exists", volume}, std::chrono::seconds(60));
    return run && run->success();
  }

  /// Writes the text into a file of the running app's container.
  void put_in_app(const std::string& file, const std::string& text) {
    ASSERT_TRUE(run_runtime({"exec", container, "sh", "-c", "printf '%s\\n' '" + text + "' > " + file}));
  }

  std::string page(const std::string& path) { return http_body(runner_, port, path).value_or("<no answer>"); }

  std::string settings_text() { return read_file(settings_path(data, id)).value_or("<none>"); }

  std::string state() {
    auto listed = list_containers(runner_, runtime());
    if (!listed) return "<no list>";
    auto found = listed->find(container);
    return found == listed->end() ? "<absent>" : found->second.state;
  }

  std::string started_lines(const std::string& how) {
    return how + " Keeper with Podman ...\nWaiting for Keeper to answer on port " + std::to_string(port) +
           " ...\nKeeper is ready: http://127.0.0.1:" + std::to_string(port) + "/\n";
  }

  /// The one folder a backup made in the base folder, checked against the clock around it.
  fs::path made_folder(const fs::path& base, std::chrono::system_clock::time_point before,
                       std::chrono::system_clock::time_point after) {
    const std::vector<std::string> names = entry_names(base);
    EXPECT_EQ(names.size(), 1u);
    if (names.size() != 1) return base / "<none>";
    EXPECT_TRUE(names[0] == backup_folder_name(id, before) || names[0] == backup_folder_name(id, after)) << names[0];
    return base / names[0];
  }

  fs::path data;  // the data folder, with room beside it for the default backup folder
  std::string id, container, pages, notes;
  std::uint16_t port = 0;
  TestFolder backups_;
};

class BackupsWithPodman : public Backups {};

TEST_P(BackupsWithPodman, BackupThenRestoreBringsBackEveryFileAndTheSecret) {
  const ProgramRun first = zelk({"start", id});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.out, started_lines("Installing"));
  put_in_app("/www/pages/one.html", "pages one");
  put_in_app("/www/notes/two.txt", "notes two");
  const std::string secret = line_value(settings_text(), "E2E_SECRET").value_or("<none>");
  ASSERT_EQ(secret.size(), 48u);
  ASSERT_EQ(line_value(page("/env.txt"), "SECRET"), secret);

  // The backup of a running app stops it for the copy and starts it again.
  const fs::path base = backups_.path() / "my backups";
  const auto before = std::chrono::system_clock::now();
  const ProgramRun backup = zelk({"backup", id, path_to_utf8(base)});
  const fs::path folder = made_folder(base, before, std::chrono::system_clock::now());
  ASSERT_EQ(backup.code, 0) << backup.err;
  EXPECT_EQ(backup.err, "");
  EXPECT_EQ(backup.out, "Stopping Keeper for the copy ...\n"
                        "Copying " + pages + " ...\n"
                        "Copying " + notes + " ...\n" +
                        started_lines("Starting") +
                        "Keeper is backed up in " + path_to_utf8(folder) +
                        ". Keep the whole folder: it holds the app's data and its passwords.\n");
  EXPECT_EQ(state(), "running");
  EXPECT_EQ(page("/pages/one.html"), "pages one\n");
  EXPECT_EQ(entry_names(folder), (std::vector<std::string>{"settings.env", notes + ".tar", pages + ".tar"}));
  const std::string kept_settings = settings_text();
  EXPECT_EQ(read_file(folder / "settings.env").value_or("<none>"), kept_settings);
  auto listed = runner_.run_captured("tar", {"-tf", path_to_utf8(folder / (pages + ".tar"))}, std::chrono::seconds(60));
  ASSERT_TRUE(listed && listed->success()) << describe(listed);
  EXPECT_NE(listed->stdout_text.find("one.html"), std::string::npos) << listed->stdout_text;

  // Everything of the app goes: its container, its volumes and its settings file.
  const ProgramRun removed = zelk({"remove", id});
  ASSERT_EQ(removed.code, 0) << removed.err;
  EXPECT_EQ(removed.out, "Keeper is removed. Its data volumes and settings are kept.\n");
  ASSERT_TRUE(run_runtime({"volume", "rm", pages, notes}));
  ASSERT_TRUE(fs::remove(settings_path(data, id)));

  const ProgramRun restored = zelk({"restore", id, path_to_utf8(folder)});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(restored.err, "");
  EXPECT_EQ(restored.out, "Putting back " + pages + " ...\n"
                          "Putting back " + notes + " ...\n"
                          "Keeper is restored. Start it: zelk start " + id + "\n");
  EXPECT_TRUE(volume_exists(pages));
  EXPECT_TRUE(volume_exists(notes));
  EXPECT_EQ(settings_text(), kept_settings);
  EXPECT_EQ(state(), "<absent>");

  const ProgramRun again = zelk({"start", id});
  ASSERT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(again.out, started_lines("Installing"));
  EXPECT_EQ(page("/pages/one.html"), "pages one\n");
  EXPECT_EQ(page("/notes/two.txt"), "notes two\n");
  EXPECT_EQ(line_value(page("/env.txt"), "SECRET"), secret);

  // A second restore would write over the data the app has now: refused, nothing touched.
  put_in_app("/www/pages/one.html", "changed since");
  ASSERT_TRUE(write_settings(data, id, kept_settings + "GREETING=changed\n"));
  const ProgramRun refused = zelk({"restore", id, path_to_utf8(folder)});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "zelk: Keeper still has data on this computer, in " + pages +
                             ". A backup goes back only into an app without data, so nothing is written over. "
                             "To replace the data: zelk remove " + id + ", then \"podman volume rm " + pages + " " +
                             notes + "\", then restore again.\n");
  EXPECT_EQ(page("/pages/one.html"), "changed since\n");
  EXPECT_EQ(settings_text(), kept_settings + "GREETING=changed\n");
  EXPECT_EQ(state(), "running");

  // A folder that holds only the settings is no backup of this app.
  const fs::path partial = backups_.path() / "partial";
  fs::create_directories(partial);
  fs::copy_file(folder / "settings.env", partial / "settings.env");
  const ProgramRun incomplete = zelk({"restore", id, path_to_utf8(partial)});
  EXPECT_EQ(incomplete.code, 1);
  EXPECT_EQ(incomplete.out, "");
  EXPECT_EQ(incomplete.err, "zelk: " + path_to_utf8(partial) + " is not a backup of Keeper: " + pages + ".tar, " +
                                notes + ".tar is missing.\n");
}

TEST_P(BackupsWithPodman, ABackupOfAStoppedAppLeavesItStopped) {
  ASSERT_EQ(zelk({"start", id}).code, 0);
  put_in_app("/www/notes/two.txt", "notes two");
  const ProgramRun stopped = zelk({"stop", id});
  ASSERT_EQ(stopped.code, 0) << stopped.err;

  // The default place: beside the data folder.
  const fs::path base = home_.path() / "Valdroven AI Zelk backups";
  const auto before = std::chrono::system_clock::now();
  const ProgramRun backup = zelk({"backup", id});
  const fs::path folder = made_folder(base, before, std::chrono::system_clock::now());
  ASSERT_EQ(backup.code, 0) << backup.err;
  EXPECT_EQ(backup.out, "Copying " + pages + " ...\nCopying " + notes + " ...\nKeeper is backed up in " +
                            path_to_utf8(folder) +
                            ". Keep the whole folder: it holds the app's data and its passwords.\n");
  EXPECT_EQ(state(), "exited");
  auto listed = runner_.run_captured("tar", {"-tf", path_to_utf8(folder / (notes + ".tar"))}, std::chrono::seconds(60));
  ASSERT_TRUE(listed && listed->success()) << describe(listed);
  EXPECT_NE(listed->stdout_text.find("two.txt"), std::string::npos) << listed->stdout_text;
}

INSTANTIATE_TEST_SUITE_P(Runtimes, BackupsWithPodman, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

class BackupsWithDocker : public Backups {};

TEST_P(BackupsWithDocker, AreRefused) {
  ASSERT_EQ(zelk({"start", id}).code, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"backup", id},
        std::vector<std::string>{"restore", id, path_to_utf8(backups_.path())}}) {
    const ProgramRun refused = zelk(args);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "zelk: Backups need Podman. Docker has no command to copy an app's data volumes.\n");
  }
  EXPECT_EQ(state(), "running");
  EXPECT_TRUE(entry_names(backups_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Runtimes, BackupsWithDocker, ::testing::Values(RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
