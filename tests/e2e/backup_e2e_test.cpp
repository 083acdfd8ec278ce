#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

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
using namespace std::chrono_literals;

/// The zelk program run as a terminal runs a command: in a process group of its own, which a
/// Ctrl-C reaches as a whole. Its output and errors go to files.
class GroupRun {
 public:
  GroupRun(const fs::path& home, const std::string& path, const std::vector<std::string>& args, const fs::path& logs)
      : out_(logs / "out.txt"), err_(logs / "err.txt") {
    std::vector<std::string> command{"/usr/bin/env", "ZELK_HOME=" + path_to_utf8(home), "PATH=" + path, ZELK_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    if (posix_spawn(&pid_, argv[0], &files, &attributes, argv.data(), environ) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
  }

  ~GroupRun() {
    if (pid_ > 0 && !ended_) {
      ::killpg(pid_, SIGKILL);
      (void)::waitpid(pid_, &status_, 0);
    }
  }

  bool started() const { return pid_ > 0; }

  /// Whether the program has ended, without waiting.
  bool ended() {
    if (!ended_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
    return ended_;
  }

  /// Ctrl-C, as a terminal sends it: SIGINT to every process of the group.
  bool interrupt() const { return ::killpg(pid_, SIGINT) == 0; }

  /// Waits, a bounded time, for the end; the exit code, or -1 (ended by a signal, or still running).
  int wait() {
    for (int attempt = 0; attempt < 3000 && !ended(); ++attempt) std::this_thread::sleep_for(100ms);
    return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

  std::string out() const { return read_file(out_).value_or("<none>"); }
  std::string err() const { return read_file(err_).value_or("<none>"); }

 private:
  fs::path out_, err_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
};

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

TEST_P(BackupsWithPodman, ACtrlCInTheCopyKeepsNothingStartsTheAppAgainAndLeavesTheFirstBackup) {
  ASSERT_EQ(zelk({"start", id}).code, 0);
  put_in_app("/www/pages/one.html", "pages one");
  // Enough data that the copy takes a moment.
  ASSERT_TRUE(
      run_runtime({"exec", container, "busybox", "dd", "if=/dev/zero", "of=/www/pages/big", "bs=1M", "count=250"}));
  const fs::path base = backups_.path() / "my backups";
  const ProgramRun first = zelk({"backup", id, path_to_utf8(base)});
  ASSERT_EQ(first.code, 0) << first.err;
  const std::vector<std::string> kept_names = entry_names(base);
  ASSERT_EQ(kept_names.size(), 1u);
  const fs::path kept = base / kept_names[0];
  const std::uintmax_t kept_size = fs::file_size(kept / (pages + ".tar"));
  const std::string kept_settings = read_file(kept / "settings.env").value_or("<none>");

  // A second backup, stopped while Podman writes the copy of the big volume.
  const fs::path logs = backups_.path() / "logs";
  fs::create_directories(logs);
  GroupRun second(data, zelk_path(), {"backup", id, path_to_utf8(base)}, logs);
  ASSERT_TRUE(second.started());
  bool copying = false;
  for (int attempt = 0; attempt < 6000 && !copying && !second.ended(); ++attempt) {
    // Podman writes the copy somewhere in the base folder: a new file, or the first one again.
    for (const std::string& name : entry_names(base)) {
      std::error_code error;
      const std::uintmax_t size = fs::file_size(base / name / (pages + ".tar"), error);
      if (!error && (name == kept_names[0] ? size != kept_size : size > 0)) copying = true;
    }
    if (!copying) std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(copying) << second.out() << second.err();
  ASSERT_TRUE(second.interrupt());
  EXPECT_EQ(second.wait(), 130);
  EXPECT_EQ(second.out(), "Stopping Keeper for the copy ...\nCopying " + pages + " ...\n" + started_lines("Starting"));
  EXPECT_EQ(second.err(), "zelk: The backup was stopped; nothing was kept. Keeper runs again.\n");

  EXPECT_EQ(entry_names(base), kept_names);
  EXPECT_EQ(fs::file_size(kept / (pages + ".tar")), kept_size);
  EXPECT_EQ(read_file(kept / "settings.env").value_or("<none>"), kept_settings);
  auto listed = runner_.run_captured("tar", {"-tf", path_to_utf8(kept / (pages + ".tar"))}, std::chrono::seconds(60));
  ASSERT_TRUE(listed && listed->success()) << describe(listed);
  EXPECT_NE(listed->stdout_text.find("big"), std::string::npos) << listed->stdout_text;
  EXPECT_EQ(state(), "running");
  EXPECT_EQ(page("/pages/one.html"), "pages one\n");
}

TEST_P(BackupsWithPodman, AFullDiskSaysSoAndLeavesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can mount a small disk for the test";
  ASSERT_EQ(zelk({"start", id}).code, 0);
  ASSERT_TRUE(
      run_runtime({"exec", container, "busybox", "dd", "if=/dev/zero", "of=/www/pages/big", "bs=1M", "count=40"}));
  ASSERT_EQ(zelk({"stop", id}).code, 0);
  const fs::path small = backups_.path() / "small disk";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=20m") != 0) GTEST_SKIP() << "no tmpfs could be mounted here";
  struct Unmount {
    const fs::path& folder;
    ~Unmount() { (void)::umount2(folder.c_str(), MNT_DETACH); }
  } unmount{small};

  const ProgramRun backup = zelk({"backup", id, path_to_utf8(small)});
  EXPECT_EQ(backup.code, 1);
  EXPECT_EQ(backup.out, "Copying " + pages + " ...\n");
  // Podman's own words come first, on its error stream, then the program's.
  EXPECT_TRUE(backup.err.starts_with("Error: ") && backup.err.find("no space left on device\n") != std::string::npos)
      << backup.err;
  EXPECT_TRUE(backup.err.ends_with("\nzelk: The disk is full: there is no room in " + path_to_utf8(small) +
                                   " for the backup of Keeper, so nothing was kept. Make room there, or name another "
                                   "folder: zelk backup " + id + " <folder>\n"))
      << backup.err;
  EXPECT_TRUE(entry_names(small).empty());
  EXPECT_EQ(state(), "exited");
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
