// Secrets stay the user's own on Linux and macOS: the data folder, each app's folder, every
// settings file and every backup of one are readable by their owner only, whatever the umask,
// also when a file is replaced, and a data folder an earlier version left open is tightened.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "apps.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "shelf.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"
#include "test_tar.h"
#include "update.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

mode_t mode_of(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 07777;  // never a mode a test expects
  return status.st_mode & 07777;
}

std::string octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// The umask of the test process for one scope: 0 lets every mode a program asks for through,
// so only a mode the program asks for itself is ever seen.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : before_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(before_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t before_;
};

#define EXPECT_MODE(path, mode) EXPECT_EQ(octal(mode_of(path)), octal(mode)) << (path)

TEST(PrivateFiles, ANewFileIsTheOwnersAloneWhateverTheUmask) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    TestFolder folder;
    ScopedUmask umask(mask);
    ASSERT_TRUE(write_file_atomically(folder.path() / "new", "secret"));
    EXPECT_MODE(folder.path() / "new", 0600);
  }
}

TEST(PrivateFiles, AReplacedFileIsTheOwnersAloneWhateverTheOldOneAllowed) {
  TestFolder folder;
  ScopedUmask umask(0);
  const fs::path file = folder.path() / "settings";
  ASSERT_TRUE(write_file_atomically(file, "old"));
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  ASSERT_TRUE(write_file_atomically(file, "new"));
  EXPECT_MODE(file, 0600);
  EXPECT_EQ(read_file(file).value_or(""), "new");
}

TEST(PrivateFolders, EveryFolderMadeIsTheOwnersAlone) {
  TestFolder folder;
  ScopedUmask umask(0);
  const fs::path deep = folder.path() / "a" / "b" / "c";
  ASSERT_TRUE(make_private_folder(deep));
  for (const fs::path& level : {folder.path() / "a", folder.path() / "a" / "b", deep}) EXPECT_MODE(level, 0700);
  // Trailing separators and folders that are there already are fine.
  EXPECT_TRUE(make_private_folder(folder.path() / "a" / "b" / "c" / ""));
}

TEST(PrivateFolders, AnExistingFolderIsTightenedButNotTheFoldersAboveIt) {
  TestFolder folder;
  ScopedUmask umask(0);
  const fs::path above = folder.path() / "above";
  const fs::path target = above / "target";
  fs::create_directories(target);
  ASSERT_EQ(::chmod(above.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(target.c_str(), 0775), 0);
  ASSERT_TRUE(make_private_folder(target));
  EXPECT_MODE(target, 0700);
  EXPECT_MODE(above, 0755);
}

TEST(PrivateFolders, ASharedStickyFolderIsLeftAsItIs) {
  TestFolder folder;
  const fs::path shared = folder.path() / "shared";
  fs::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  ASSERT_TRUE(make_private_folder(shared));
  EXPECT_MODE(shared, 01777);
}

TEST(PrivateFolders, AFileInTheWayIsTheSystemsText) {
  TestFolder folder;
  ASSERT_TRUE(write_file_atomically(folder.path() / "file", "x"));
  EXPECT_EQ(make_private_folder(folder.path() / "file" / "below"),
            std::unexpected(std::string("Not a directory (os error 20)")));
  EXPECT_EQ(make_private_folder(folder.path() / "file"), std::unexpected(std::string("Not a directory (os error 20)")));
}

// Every write into the data folder, from a data folder that is not there yet.
struct DataFolderWrite {
  const char* name;
  std::function<void(const fs::path& home)> write;
  std::vector<std::string> folders;  // below the data folder, each made 0700
  std::vector<std::string> files;    // below the data folder, each made 0600
};

const std::vector<DataFolderWrite>& data_folder_writes() {
  static const std::vector<DataFolderWrite> writes = {
      {"settings", [](const fs::path& home) { ASSERT_TRUE(write_settings(home, "n8n", "TORVO_PORT=5678\n")); },
       {"apps", "apps/n8n"}, {"apps/n8n/.env"}},
      {"recipe", [](const fs::path& home) { ASSERT_TRUE(keep_recipe(user_recipe_text(""), home)); },
       {"recipes"}, {"recipes/user.yaml"}},
      {"shelves",
       [](const fs::path& home) {
         const std::vector<std::string> addresses{"https://example.org/s.yaml"};
         ASSERT_TRUE(write_shelf_addresses(home, addresses));
       },
       {}, {"shelves"}},
  };
  return writes;
}

TEST(PrivateDataFolder, EachWriteMakesItsFoldersAndFileTheOwnersAlone) {
  for (const DataFolderWrite& write : data_folder_writes()) {
    TestFolder folder;
    ScopedUmask umask(0);
    const fs::path home = folder.path() / "deeper" / ".torvo";
    write.write(home);
    EXPECT_MODE(folder.path() / "deeper", 0700) << write.name;
    EXPECT_MODE(home, 0700) << write.name;
    for (const std::string& below : write.folders) EXPECT_MODE(home / below, 0700) << write.name;
    for (const std::string& below : write.files) EXPECT_MODE(home / below, 0600) << write.name;
  }
}

TEST(PrivateDataFolder, AFolderAnEarlierVersionLeftOpenIsTightenedAtTheNextWrite) {
  for (const DataFolderWrite& write : data_folder_writes()) {
    TestFolder folder;
    const fs::path home = folder.path() / ".torvo";
    for (const std::string& below : write.folders) fs::create_directories(home / below);
    fs::create_directories(home);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
    for (const std::string& below : write.folders) ASSERT_EQ(::chmod((home / below).c_str(), 0755), 0);
    write.write(home);
    EXPECT_MODE(home, 0700) << write.name;
    for (const std::string& below : write.folders) EXPECT_MODE(home / below, 0700) << write.name;
    for (const std::string& below : write.files) EXPECT_MODE(home / below, 0600) << write.name;
    EXPECT_MODE(folder.path(), 0755) << write.name;  // the folder above the data folder is not Zelk's
  }
}

TEST(PrivateDataFolder, TheStartOfAnAppWritesItsSettingsAndMarkerPrivately) {
  TestFolder folder;
  ScopedUmask umask(0);
  const fs::path home = folder.path() / "data";
  const std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text)};
  TestContext fake(home, recipes);
  fake.runner.on("podman", {}, ScriptedRunner::ok());
  fake.runner.on("podman", {"image", "exists"}, ScriptedRunner::failed(1));
  fake.runner.on("podman", {"info"}, ScriptedRunner::failed(125));
  fake.runner.on("df", {}, ScriptedRunner::failed(1));
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  CommandContext ctx = fake.context();
  ASSERT_TRUE(run_command(ctx, {"start", "solo"}));
  EXPECT_MODE(home, 0700);
  EXPECT_MODE(home / "apps", 0700);
  EXPECT_MODE(app_folder(home, "solo"), 0700);
  EXPECT_MODE(settings_path(home, "solo"), 0600);
  EXPECT_MODE(running_marker_path(home, "solo"), 0600);
}

// Whether another local user (nobody) can open the file: a child process under that user's id
// looks for it from the folder it started in (the folders above may be closed to others on
// this computer). Only root can start one.
bool another_user_reads(const fs::path& folder, const fs::path& relative) {
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t nobody = 65534;
    if (::chdir(folder.c_str()) != 0 || ::setgroups(0, nullptr) != 0 || ::setresgid(nobody, nobody, nobody) != 0 ||
        ::setresuid(nobody, nobody, nobody) != 0) {
      ::_exit(2);
    }
    ::_exit(::open(relative.c_str(), O_RDONLY) >= 0 ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// What Zelk reads without writing it back, left open to others by an earlier version or by
// hand: once read, it is the user's alone again, though nothing in it changed.
struct DataFolderRead {
  const char* name;
  std::function<void(const fs::path& home)> put;   // the files as they were left
  std::function<void(const fs::path& home)> read;  // what reads them
  std::vector<std::string> folders;                // below the data folder, 0755 before, 0700 after
  std::string file;                                // below the data folder, 0644 before, 0600 after
};

std::expected<void, std::string> start_solo(const fs::path& home) {
  const std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text)};
  TestContext fake(home, recipes);
  fake.runner.on("podman", {}, ScriptedRunner::ok());
  fake.runner.on("podman", {"info"}, ScriptedRunner::failed(125));
  fake.runner.on("df", {}, ScriptedRunner::failed(1));
  fake.probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };
  CommandContext ctx = fake.context();
  return run_command(ctx, {"start", "solo"});
}

TEST(PrivateDataFolder, WhatIsReadIsTheOwnersAloneAgainThoughNothingIsWritten) {
  const bool root = ::geteuid() == 0;
  const std::vector<DataFolderRead> reads = {
      {"settings read by a start",
       [](const fs::path& home) { ASSERT_TRUE(start_solo(home)); },
       [](const fs::path& home) { ASSERT_TRUE(start_solo(home)); }, {"apps", "apps/solo"}, "apps/solo/.env"},
      {"settings read by the window",
       [](const fs::path& home) { ASSERT_TRUE(write_settings(home, "solo", "TORVO_PORT=40100\n")); },
       [](const fs::path& home) { ASSERT_TRUE(read_settings(home, "solo")); }, {"apps", "apps/solo"},
       "apps/solo/.env"},
      {"the list of shelves",
       [](const fs::path& home) {
         ASSERT_TRUE(write_shelf_addresses(home, std::vector<std::string>{"https://example.org/course/s.yaml"}));
       },
       [](const fs::path& home) { ASSERT_EQ(shelf_addresses(home).size(), 1u); }, {}, "shelves"},
      {"the added recipes",
       [](const fs::path& home) { ASSERT_TRUE(keep_recipe(user_recipe_text(""), home)); },
       [](const fs::path& home) { ASSERT_EQ(load_catalogue(home).notices.size(), 0u); }, {"recipes"}, ""},
  };
  for (const DataFolderRead& read : reads) {
    TestFolder folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);  // not Zelk's: others may pass through
    const fs::path home = folder.path() / "data";
    read.put(home);
    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
    for (const std::string& below : read.folders) ASSERT_EQ(::chmod((home / below).c_str(), 0755), 0);
    const fs::path relative = fs::path("data") / (read.file.empty() ? "recipes/user.yaml" : read.file);
    const fs::path file = folder.path() / relative;
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
    if (root) {
      ASSERT_TRUE(another_user_reads(folder.path(), relative)) << read.name;  // the fault is really there
    }
    const auto before = fs::last_write_time(file);

    read.read(home);
    EXPECT_EQ(fs::last_write_time(file), before) << read.name;  // nothing was written
    EXPECT_MODE(home, 0700) << read.name;
    for (const std::string& below : read.folders) EXPECT_MODE(home / below, 0700) << read.name;
    if (!read.file.empty()) {
      EXPECT_MODE(file, 0600) << read.name;
    }
    if (root) {
      EXPECT_FALSE(another_user_reads(folder.path(), relative)) << read.name;
    }
  }
  if (!root) GTEST_SKIP() << "only root can try the files as another local user; the modes were checked";
}

TEST(PrivateDataFolder, AnAppFolderThatIsALinkIsRefusedAndNothingGoesThere) {
  TestFolder folder;
  const fs::path home = folder.path() / "data";
  const fs::path elsewhere = folder.path() / "elsewhere";
  fs::create_directories(home / "apps");
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, app_folder(home, "solo"));
  const std::string refusal = "The folder \"" + path_to_utf8(app_folder(home, "solo")) +
                              "\" is a link to another place, and the Zelk keeps an app's settings and passwords "
                              "inside its data folder only. Put a folder of that name in place of the link (with "
                              "what the link leads to, if you want to keep it), then try again.";
  EXPECT_EQ(start_solo(home), std::unexpected(refusal));
  EXPECT_TRUE(fs::is_empty(elsewhere));
  // Nor does a restore put settings there, nor is anything read through it.
  EXPECT_EQ(write_settings(home, "solo", "TORVO_PORT=40100\n"),
            std::unexpected("in the folder \"" + path_to_utf8(app_folder(home, "solo")) + "\": it is " +
                            refusal.substr(refusal.find("a link"))));
  EXPECT_TRUE(fs::is_empty(elsewhere));
  ASSERT_TRUE(write_file_atomically(elsewhere / ".env", "TORVO_PORT=40100\nSOLO_KEY=abc\n"));
  EXPECT_EQ(read_settings(home, "solo"), std::nullopt);
}

TEST(PrivateDataFolder, TheDownloadFolderIsTheOwnersAlone) {
  TestFolder folder;
  ScopedUmask umask(0);
  const fs::path home = folder.path() / "data";
  ScriptedRunner runner;
  runner.on("curl", {}, ScriptedRunner::failed(22, "curl: (22) The requested URL returned error: 404\n"));
  ASSERT_FALSE(download_update(home, runner, UpdateOffer{"9.0.0", "setup.exe", std::string(64, 'a'), 10}));
  EXPECT_MODE(home, 0700);
  EXPECT_MODE(update_folder(home), 0700);
}

struct BackupModes : ::testing::Test {
  TestFolder folder;
  fs::path home = folder.path() / "data";
  std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text)};
  TestContext fake{home, recipes};

  void SetUp() override {
    fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
    fake.runner.on("podman", {"volume"}, ScriptedRunner::ok());
    ASSERT_TRUE(write_settings(home, "solo", "TORVO_PORT=40100\nSECRET=abc\n"));
  }

  CommandResult run(std::vector<std::string> args) {
    CommandContext ctx = fake.context();
    return run_command(ctx, args);
  }

  static fs::path only_entry(const fs::path& base) {
    fs::path found;
    for (const auto& entry : fs::directory_iterator(base)) found = entry.path();
    return found;
  }
};

TEST_F(BackupModes, TheDefaultBackupFolderAndTheSettingsCopyAreTheOwnersAlone) {
  ScopedUmask umask(0);
  ASSERT_EQ(::chmod(settings_path(home, "solo").c_str(), 0644), 0);  // as an earlier version left it
  auto result = run({"backup", "solo"});
  ASSERT_TRUE(result) << result.error();
  const fs::path base = folder.path() / "Valdroven AI Zelk backups";
  const fs::path backup = only_entry(base);
  EXPECT_MODE(base, 0700);
  EXPECT_MODE(backup, 0700);
  EXPECT_MODE(backup / "settings.env", 0600);
  EXPECT_EQ(read_file(backup / "settings.env").value_or(""), "TORVO_PORT=40100\nSECRET=abc\n");
}

TEST_F(BackupModes, ANamedBaseFolderKeepsItsModeAndTheBackupInItIsPrivate) {
  ScopedUmask umask(0);
  const fs::path mine = folder.path() / "my backups";
  fs::create_directories(mine);
  ASSERT_EQ(::chmod(mine.c_str(), 0755), 0);
  auto result = run({"backup", "solo", path_to_utf8(mine)});
  ASSERT_TRUE(result) << result.error();
  const fs::path backup = only_entry(mine);
  EXPECT_MODE(mine, 0755);
  EXPECT_MODE(backup, 0700);
  EXPECT_MODE(backup / "settings.env", 0600);
  // A second backup in the same minute gets a private folder of its own; the first is left as it is.
  ASSERT_EQ(::chmod(backup.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((backup / "settings.env").c_str(), 0644), 0);
  ASSERT_TRUE(run({"backup", "solo", path_to_utf8(mine)}));
  fs::path second = backup;
  second += "-2";
  EXPECT_MODE(second, 0700);
  EXPECT_MODE(second / "settings.env", 0600);
  EXPECT_MODE(backup, 0755);
  EXPECT_MODE(backup / "settings.env", 0644);
}

TEST_F(BackupModes, AWorkingNameSomeoneElseMadeFirstIsNeverUsed) {
  // In a shared folder another user can make the guessable names first: a link to a folder of
  // theirs, and a folder they own. The backup makes a folder of its own beside them.
  const fs::path base = folder.path() / "shared";
  const fs::path theirs = folder.path() / "theirs";
  fs::create_directories(theirs);
  fs::create_directories(base);
  const std::string working = ".solo-1970-01-01-0000.incomplete";
  fs::create_directory_symlink(theirs, base / working);
  const fs::path foreign = base / (working + "-2");
  fs::create_directories(foreign);
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0) << "the test runs as root, which can give a folder away";

  auto result = run({"backup", "solo", path_to_utf8(base)});
  ASSERT_TRUE(result) << result.error();
  const fs::path own = base / (working + "-3");
  std::vector<std::string> exports;
  for (const std::string& line : fake.runner.run_lines()) {
    if (line.starts_with("attached: ")) exports.push_back(line);
  }
  EXPECT_EQ(exports, std::vector<std::string>{"attached: podman volume export torvo-solo-data -o " +
                                              path_to_utf8(own / "torvo-solo-data.tar")});
  EXPECT_EQ(read_file(base / "solo-1970-01-01-0000" / "settings.env").value_or(""), "TORVO_PORT=40100\nSECRET=abc\n");
  EXPECT_TRUE(fs::is_empty(theirs));
  EXPECT_TRUE(fs::is_empty(foreign));
  EXPECT_TRUE(fs::is_symlink(base / working));
  EXPECT_FALSE(fs::exists(own));
}

TEST_F(BackupModes, ARestoredSettingsFileIsTheOwnersAlone) {
  ScopedUmask umask(0);
  const fs::path from = folder.path() / "from";
  fs::create_directories(from);
  ASSERT_TRUE(write_file_atomically(from / "settings.env", "TORVO_PORT=40101\n"));
  ASSERT_EQ(::chmod((from / "settings.env").c_str(), 0644), 0);
  for (const char* tar : {"torvo-solo-data.tar"}) ASSERT_TRUE(write_file_atomically(from / tar, tar_end()));
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
  fs::remove_all(home);
  auto result = run({"restore", "solo", path_to_utf8(from)});
  ASSERT_TRUE(result) << result.error();
  EXPECT_MODE(home, 0700);
  EXPECT_MODE(app_folder(home, "solo"), 0700);
  EXPECT_MODE(settings_path(home, "solo"), 0600);
}

}  // namespace
}  // namespace zelk
