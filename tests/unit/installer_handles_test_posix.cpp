// The installer of an update replaces this program while it runs, and outlives it: it must hold
// none of this program's descriptors. A pipe whose writing end this process closes reads its
// end while the installer started meanwhile still runs; had the installer inherited the
// writing end, the read would wait for the installer to end.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_programs.h"
#include "files.h"
#include "platform.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "update.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

TEST(InstallerHandles, TheInstallerInheritsNoDescriptorOfThisProgram) {
  TestFolder folder;
  const fs::path installer = folder.path() / "setup.exe";
  fs::copy_file(path_from_utf8(helper_program("fake_installer")), installer);
  fs::path marker = installer;
  marker += ".args";
  // The installer runs until the test lets it end.
  const fs::path release = folder.path() / "release";
  const ScopedEnv hold("ZELK_FAKE_INSTALLER_HOLD", path_to_utf8(release));

  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);  // without close-on-exec, as a library might make one
  const auto started = start_installer(installer, false, installer_flags_breakaway);
  ::close(ends[1]);
  ASSERT_TRUE(started) << started.error();

  pollfd watched{ends[0], POLLIN, 0};
  const int ready = ::poll(&watched, 1, 60'000);
  char byte = 0;
  const ssize_t got = ready == 1 ? ::read(ends[0], &byte, 1) : -1;
  const bool installer_done = fs::exists(marker);
  ::close(ends[0]);
  EXPECT_EQ(ready, 1) << "the pipe's end never came while the installer ran";
  EXPECT_EQ(got, 0);
  EXPECT_FALSE(installer_done) << "the read waited for the installer to end";

  // The installer did run, without the Windows installer's switches.
  std::ofstream(release).put('\n');
  for (int i = 0; i < 3000 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(read_file(marker).value_or("<none>"), "");
}

}  // namespace
}  // namespace zelk
