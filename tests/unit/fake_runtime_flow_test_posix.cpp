#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "child_programs.h"
#include "envfile.h"
#include "fake_runtime_calls.h"
#include "fake_runtime_flow.h"
#include "files.h"
#include "platform.h"
#include "ready_listener.h"
#include "runner.h"
#include "scoped_env.h"
#include "test_folder.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

// The same walk the Windows build takes under Wine, here with the Linux runner and the fake
// runtime found on PATH as "podman".
TEST(FakeRuntimeFlow, ListStartStopStartRemoveAndRemoveEverything) { walk_through_the_fake_runtime(); }

// A data folder that cannot be written, made read-only by a bind mount in a mount namespace of
// the zelk program's own (a mode without the write bits does not stop root): the running marker
// that start, stop and "stop --all" cannot write or delete is said, with what it means.
TEST(FakeRuntimeFlow, AMarkerThatCannotBeWrittenOrDeletedIsSaid) {
  TestFolder root;
  const fs::path bin = root.path() / "bin";
  const fs::path data = root.path() / "zelk data";
  const fs::path fake = root.path() / "fake runtime";
  fs::create_directories(bin);
  fs::create_directories(fake);
  fs::create_directories(data / "recipes");
  ReadyListener listener{fake_container_runs(fake, "torvo-mark")};  // the app's container holds its port
  const std::string port = std::to_string(listener.port());
  std::error_code copied;
  fs::copy_file(helper_program("fake_podman"), bin / "podman", copied);
  ASSERT_FALSE(copied) << copied.message();
  ASSERT_TRUE(write_file_atomically(data / "recipes" / "mark.yaml",
                                    "services:\n  mark:\n    image: localhost/zelk/mark:1.0\n    ports:\n"
                                    "      - 127.0.0.1:${TORVO_PORT}:8080\nx-zelk:\n  format: 1\n  id: mark\n"
                                    "  name: Mark\n  category: Tests\n  summary: Marked\n  port: " + port +
                                        "\n  ready: /\n"));
  ASSERT_TRUE(write_file_atomically(fake / "state.txt", "image\tlocalhost/zelk/mark:1.0\n"));
  ScopedEnv home("ZELK_HOME", data.string());
  ScopedEnv path("PATH", bin.string() + ":" + get_env("PATH").value_or(""));
  ScopedEnv fake_dir("FAKE_PODMAN_DIR", fake.string());

  const SystemRunner runner(0);
  auto zelk = [&](bool read_only, std::vector<std::string> args) {
    std::vector<std::string> line{"--mount", "sh", "-c",
                                  "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"",
                                  data.string(), zelk_program()};
    if (!read_only) line = {"--mount", zelk_program()};
    line.insert(line.end(), args.begin(), args.end());
    auto run = runner.run_captured("unshare", line, std::chrono::seconds(120));
    if (!run) return "<" + fmt_run_error(run.error()) + ">";
    EXPECT_EQ(run->stderr_text, "") << args[0];
    EXPECT_EQ(run->exit_code, std::optional<std::int32_t>(0)) << args[0];
    return run->stdout_text;
  };
  const fs::path marker = running_marker_path(data, "mark");
  const std::string folder = path_to_utf8(app_folder(data, "mark"));
  const std::string ready = "Waiting for Mark to answer on port " + port + " ...\nMark is ready: http://127.0.0.1:" +
                            port + "/\n";
  const std::string not_deleted = "The running marker of Mark could not be deleted from " + folder +
                                  ": Read-only file system (os error 30). After a restart, \"zelk resume\" will "
                                  "start Mark again, unless you delete the file " + path_to_utf8(marker) + ".\n";

  EXPECT_EQ(zelk(false, {"start", "mark"}), "Installing Mark with Podman ...\n" + ready);
  ASSERT_TRUE(fs::exists(marker));
  EXPECT_EQ(zelk(true, {"stop", "mark"}), not_deleted + "Mark is stopped.\n");
  EXPECT_TRUE(fs::exists(marker));

  EXPECT_EQ(zelk(false, {"stop", "mark"}), "Mark is already stopped.\n");
  ASSERT_FALSE(fs::exists(marker));
  EXPECT_EQ(zelk(true, {"start", "mark"}),
            "Starting Mark with Podman ...\n" + ready + "The running marker of Mark could not be written in " +
                folder + ": Read-only file system (os error 30). After a restart, \"zelk resume\" will not start "
                "Mark; start it yourself then: zelk start mark\n");
  EXPECT_FALSE(fs::exists(marker));

  EXPECT_EQ(zelk(false, {"start", "mark"}), ready);
  ASSERT_TRUE(fs::exists(marker));
  EXPECT_EQ(zelk(true, {"stop", "--all"}), not_deleted + "Stopped: Mark. Its data stays.\n");
  EXPECT_TRUE(fs::exists(marker));
}

}  // namespace
}  // namespace zelk
