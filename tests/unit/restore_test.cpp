// A restore takes only the backup's own settings, and only into an app that has none.

#include <gtest/gtest.h>

#include <filesystem>

#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"
#include "test_tar.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

constexpr const char* damaged_advice =
    " The backup is damaged or unsafe: restore from another copy of it, or from a backup you made yourself with "
    "\"zelk backup\".";

struct RestoreSettings : ::testing::Test {
  TestFolder folder;
  fs::path home = folder.path() / "data";
  fs::path backup = folder.path() / "backup";
  std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text), read_test_recipe(duo_recipe_text)};
  TestContext fake{home, recipes};

  void SetUp() override {
    fs::create_directories(home);
    fs::create_directories(backup);
    fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
    fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
    fake.runner.on("podman", {"volume", "create"}, ScriptedRunner::ok());
    fake.runner.on("podman", {"volume", "import"}, ScriptedRunner::ok());
    ASSERT_TRUE(write_file_atomically(backup / "torvo-solo-data.tar", tar_file("f", "data") + tar_end()));
  }

  CommandResult run(std::vector<std::string> args) {
    CommandContext ctx = fake.context();
    return run_command(ctx, args);
  }

  bool made_anything() {
    for (const std::string& line : fake.runner.run_lines()) {
      if (line.find("volume create") != std::string::npos) return true;
    }
    return fs::exists(app_folder(home, "solo")) || fs::exists(app_folder(home, "duo"));
  }
};

TEST_F(RestoreSettings, OnlyTheLinesOfNamesTheAppUsesAreTaken) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env",
                                    "# Settings of Solo.\nTORVO_PORT=40124\nSOLO_KEY=k\nSOLO_TOKEN=t\nCOLOUR=red\n\n"
                                    "GITEA_ADMIN_PASSWORD=theirs\nPATH=/tmp/evil\nLD_PRELOAD=/tmp/x.so\njunk\n"
                                    "\x1b[2JWIPE=1\n"));
  auto result = run({"restore", "solo", path_to_utf8(backup)});
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(read_file(settings_path(home, "solo")).value_or("<none>"),
            "# Settings of Solo.\nTORVO_PORT=40124\nSOLO_KEY=k\nSOLO_TOKEN=t\nCOLOUR=red\n\n");
  EXPECT_EQ(fake.output.text,
            "Putting back torvo-solo-data ...\n"
            "Left out of the backup's settings, as Solo does not use them: GITEA_ADMIN_PASSWORD, PATH, LD_PRELOAD, "
            "line 10, \\x1b[2JWIPE.\n"
            "Solo is restored. Start it: zelk start solo\n");
}

TEST_F(RestoreSettings, ASettingsCopyThatIsALinkOrAFolderIsRefused) {
  // Another app's settings, which a hostile backup points its copy at.
  const fs::path other = folder.path() / "other.env";
  ASSERT_TRUE(write_file_atomically(other, "SOLO_KEY=another app's secret\n"));
  const std::string link = path_to_utf8(backup / "settings.env");
  std::error_code linked;
  fs::create_symlink(other, backup / "settings.env", linked);
  // The C++ library of the Windows build makes no symbolic links; there the folder is tried alone.
  if (!linked) {
    EXPECT_EQ(run({"restore", "solo", path_to_utf8(backup)}),
              std::unexpected(link + " is a symbolic link, not a copy of settings, so nothing was restored." +
                              damaged_advice));
    fs::remove(backup / "settings.env");
  }
  fs::create_directories(backup / "settings.env");
  EXPECT_EQ(run({"restore", "solo", path_to_utf8(backup)}),
            std::unexpected(link + " is a folder, not a copy of settings, so nothing was restored." + damaged_advice));
  EXPECT_FALSE(made_anything());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(RestoreSettings, TheSettingsOfAnInstalledAppAreNeverWrittenOver) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", "TORVO_PORT=40124\nSOLO_KEY=backup\n"));
  ASSERT_TRUE(write_settings(home, "solo", "TORVO_PORT=40123\nSOLO_KEY=mine\n"));
  EXPECT_EQ(run({"restore", "solo", path_to_utf8(backup)}),
            std::unexpected("Solo already has settings on this computer, in " +
                            path_to_utf8(settings_path(home, "solo")) +
                            ". A backup's settings go back only into an app without them, so its passwords are not "
                            "written over. To take the backup's settings instead: zelk remove solo, then delete that "
                            "file, then restore again."));
  EXPECT_EQ(read_file(settings_path(home, "solo")).value_or("<none>"), "TORVO_PORT=40123\nSOLO_KEY=mine\n");

  // An app without data volumes, installed and running, keeps the secrets it runs with.
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-duo\trunning\t\ntorvo-duo-db\trunning\t\n"));
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", "DUO_SECRET=backup\n"));
  EXPECT_EQ(run({"restore", "duo", path_to_utf8(backup)}),
            std::unexpected(std::string("Duo is installed on this computer. A backup's settings go back only into an "
                                        "app that is not installed, so its passwords are not written over. To take "
                                        "the backup's settings instead: zelk remove duo, then restore again.")));
  EXPECT_FALSE(fs::exists(settings_path(home, "duo")));
  for (const std::string& line : fake.runner.run_lines()) EXPECT_EQ(line.find("volume create"), std::string::npos);
}

TEST_F(RestoreSettings, AFolderThatHoldsNoBackupIsRefused) {
  const std::string gone = path_to_utf8(folder.path() / "no such folder");
  EXPECT_EQ(run({"restore", "duo", gone}),
            std::unexpected(gone + " is not a folder on this computer. Name the folder that holds the backup: zelk "
                                   "restore duo <folder>"));
  // An app without data volumes has only its settings to put back.
  EXPECT_EQ(run({"restore", "duo", path_to_utf8(backup)}),
            std::unexpected(path_to_utf8(backup) + " is not a backup of Duo: settings.env is missing."));
  EXPECT_FALSE(made_anything());
  EXPECT_EQ(fake.output.text, "");
}

TEST_F(RestoreSettings, ACtrlCThatEndsTheCreateStillTakesItsVolumeAway) {
  ASSERT_TRUE(write_file_atomically(backup / "settings.env", "TORVO_PORT=40124\n"));
  // The same Ctrl-C ends the runtime's create, which made the volume before it ended.
  fake.runner.once("podman", {"volume", "exists"}, ScriptedRunner::failed(1));
  fake.runner.on("podman", {"volume", "exists"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"volume", "create"}, ScriptedRunner::failed(130));
  fake.runner.on("podman", {"volume", "rm"}, ScriptedRunner::ok());
  bool watched = false;
  const InterruptWatch ctrl_c{[&] { watched = true; }, [&] {
                                for (const std::string& line : fake.runner.run_lines()) {
                                  if (line.starts_with("podman volume create")) return true;
                                }
                                return false;
                              }};
  CommandContext ctx = fake.context();
  ctx.interrupts = &ctrl_c;
  EXPECT_EQ(run_command(ctx, {"restore", "solo", path_to_utf8(backup)}),
            std::unexpected(std::string("The restore of Solo was stopped. The volume this restore had made "
                                        "(torvo-solo-data) is removed again, and the settings are as they were.")));
  EXPECT_TRUE(watched);
  EXPECT_EQ(fake.runner.run_lines().back(), "podman volume rm torvo-solo-data");
  EXPECT_FALSE(fs::exists(settings_path(home, "solo")));
}

}  // namespace
}  // namespace zelk
