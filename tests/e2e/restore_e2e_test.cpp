// A restore against the real Podman: what Podman's own export writes goes back, an archive
// that is cut or would write outside its volume is refused before anything is made, and a
// Ctrl-C during the import leaves no volume behind.

#include <signal.h>
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
#include "tar_check.h"
#include "test_tar.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* damaged_advice =
    ". The backup is damaged or unsafe, so nothing was restored. Restore from another copy of it, or from a backup "
    "you made yourself with \"zelk backup\".";

class Restores : public RealRuntime {
 protected:
  void SetUp() override {
    RealRuntime::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    id = app_id("back");
    pages = "torvo-" + id + "-pages";
    notes = "torvo-" + id + "-notes";
    data = home_.path() / "data";
    backup = home_.path() / "backup";
    fs::create_directories(data / "recipes");
    fs::create_directories(backup);
    std::ofstream(data / "recipes" / (id + ".yaml"), std::ios::binary)
        << keeper_recipe(id, "Keeper", free_port(), image_);
  }

  void TearDown() override {
    if (!id.empty()) {
      (void)runner_.run_captured(runtime(), {"rm", "-f", "torvo-" + id}, 120s);
      (void)runner_.run_captured(runtime(), {"volume", "rm", "-f", pages, notes}, 120s);
    }
    RealRuntime::TearDown();
  }

  ProgramRun zelk(const std::vector<std::string>& args) { return run_zelk_program(runner_, data, zelk_path(), args); }

  bool volume_exists(const std::string& volume) {
    auto run = runner_.run_captured(runtime(), {"volume", "exists", volume}, 60s);
    return run && run->success();
  }

  /// Where rootful Podman keeps the volume's files; none while it does not exist.
  std::optional<fs::path> mountpoint(const std::string& volume) {
    auto run = runner_.run_captured(runtime(), {"volume", "inspect", "--format", "{{.Mountpoint}}", volume}, 60s);
    if (!run || !run->success()) return std::nullopt;
    std::string text = run->stdout_text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return path_from_utf8(text);
  }

  fs::path tar_of(const std::string& volume) const { return backup / (volume + ".tar"); }

  std::string id, pages, notes;
  fs::path data, backup;
};

TEST_P(Restores, WhatPodmansExportWritesIsReadThroughAndGoesBack) {
  // Folders, a long name (a pax header), a link inside the volume, a hard link, an empty file.
  ASSERT_TRUE(run_runtime({"volume", "create", pages}));
  ASSERT_TRUE(run_runtime({"volume", "create", notes}));
  const fs::path inside = mountpoint(pages).value();
  const std::string long_name(150, 'n');
  fs::create_directories(inside / "sub" / "deeper");
  std::ofstream(inside / "sub" / "a.html", std::ios::binary) << "pages one\n";
  std::ofstream(inside / "sub" / long_name, std::ios::binary) << std::string(70000, 'x');
  std::ofstream(inside / "empty", std::ios::binary);
  fs::create_symlink("../a.html", inside / "sub" / "deeper" / "link");
  fs::create_hard_link(inside / "sub" / "a.html", inside / "hard");
  ASSERT_TRUE(run_runtime({"volume", "export", pages, "-o", path_to_utf8(tar_of(pages))}));
  ASSERT_TRUE(run_runtime({"volume", "export", notes, "-o", path_to_utf8(tar_of(notes))}));
  ASSERT_TRUE(run_runtime({"volume", "rm", pages, notes}));

  EXPECT_TRUE(check_volume_tar(tar_of(pages)));
  EXPECT_TRUE(check_volume_tar(tar_of(notes)));
  const ProgramRun restored = zelk({"restore", id, path_to_utf8(backup)});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(restored.out, "Putting back " + pages + " ...\nPutting back " + notes +
                              " ...\nKeeper is restored. Start it: zelk start " + id + "\n");
  const fs::path back = mountpoint(pages).value();
  EXPECT_EQ(read_file(back / "sub" / "deeper" / "link").value_or("<none>"), "pages one\n");
  EXPECT_EQ(read_file(back / "sub" / long_name).value_or("<none>").size(), 70000u);
  EXPECT_TRUE(volume_exists(notes));
}

TEST_P(Restores, AnArchiveThatWritesThroughALinkIsRefusedAndNothingIsMade) {
  // What Podman's import does with it unread: the file beneath the link lands outside.
  const fs::path outside = home_.path() / "outside";
  fs::create_directories(outside);
  std::ofstream(outside / "victim", std::ios::binary) << "original\n";
  const std::string target = path_to_utf8(outside);
  ASSERT_TRUE(write_file_atomically(tar_of(pages), tar_entry("esc", '2', target) +
                                                       tar_file("esc/victim", "overwritten\n") + tar_end()));
  ASSERT_TRUE(write_file_atomically(tar_of(notes), tar_end()));

  const ProgramRun refused = zelk({"restore", id, path_to_utf8(backup)});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "zelk: " + path_to_utf8(tar_of(pages)) + " cannot be put back: the entry \"esc\" is a link "
                             "to \"" + target + "\", outside the volume" + damaged_advice + "\n");
  EXPECT_FALSE(volume_exists(pages));
  EXPECT_FALSE(volume_exists(notes));
  EXPECT_EQ(read_file(outside / "victim").value_or("<none>"), "original\n");
}

TEST_P(Restores, ACutArchiveIsRefusedBeforeAnythingIsMade) {
  ASSERT_TRUE(run_runtime({"volume", "create", pages}));
  std::ofstream(mountpoint(pages).value() / "big.bin", std::ios::binary) << std::string(1 << 20, 'b');
  ASSERT_TRUE(run_runtime({"volume", "export", pages, "-o", path_to_utf8(tar_of(pages))}));
  ASSERT_TRUE(run_runtime({"volume", "rm", pages}));
  // A copy that stopped half-way, as a full disk or a broken-off copy leaves it.
  fs::resize_file(tar_of(pages), fs::file_size(tar_of(pages)) / 2);
  ASSERT_TRUE(write_file_atomically(tar_of(notes), tar_end()));
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", "E2E_SECRET=0123456789abcdef\n"));

  const ProgramRun refused = zelk({"restore", id, path_to_utf8(backup)});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "zelk: " + path_to_utf8(tar_of(pages)) +
                             " cannot be put back: it ends inside the entry \"big.bin\"" + damaged_advice + "\n");
  EXPECT_FALSE(volume_exists(pages));
  EXPECT_FALSE(volume_exists(notes));
  EXPECT_FALSE(fs::exists(settings_path(data, id)));
}

TEST_P(Restores, CtrlCDuringTheImportLeavesNoVolume) {
  // A few hundred MB in many files, so that the import takes a while.
  {
    std::ofstream big(tar_of(pages), std::ios::binary);
    const std::string bytes(10240, 'p');
    for (int i = 0; i < 30000; ++i) big << tar_file("d" + std::to_string(i / 1000) + "/f" + std::to_string(i), bytes);
    big << tar_end();
  }
  ASSERT_TRUE(write_file_atomically(tar_of(notes), tar_end()));
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", "E2E_SECRET=0123456789abcdef\n"));
  const fs::path out = home_.path() / "out.txt";
  const fs::path err = home_.path() / "err.txt";

  // As a terminal runs it: zelk leads its own process group, and Ctrl-C goes to the group.
  const std::vector<std::string> words{"/usr/bin/env", "ZELK_HOME=" + path_to_utf8(data), "PATH=" + zelk_path(),
                                       ZELK_BINARY,    "restore",  id,  path_to_utf8(backup)};
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setpgid(0, 0);
    if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr)) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(child, child);

  // Once the first files are in the volume, the import is under way.
  bool importing = false;
  for (int attempt = 0; attempt < 3000 && !importing; ++attempt) {
    if (std::optional<fs::path> inside = mountpoint(pages)) {
      std::error_code error;
      importing = fs::exists(*inside / "d0", error);
    }
    if (!importing) std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(importing);
  ASSERT_EQ(::kill(-child, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);

  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(read_file(out).value_or("<none>"), "Putting back " + pages + " ...\n");
  // Podman's own words about its import come first; the last line is the restore's.
  const std::string said = read_file(err).value_or("<none>");
  const std::string last = "zelk: The restore of Keeper was stopped. The volume this restore had made (" + pages +
                           ") is removed again, and the settings are as they were.\n";
  EXPECT_TRUE(said.ends_with(last)) << said;
  EXPECT_FALSE(volume_exists(pages));
  EXPECT_FALSE(volume_exists(notes));
  EXPECT_FALSE(fs::exists(settings_path(data, id)));
}

INSTANTIATE_TEST_SUITE_P(Runtimes, Restores, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}), runtime_name);

}  // namespace
}  // namespace zelk::e2e
