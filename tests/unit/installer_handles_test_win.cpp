// The installer of an update replaces this program while it runs, and outlives it: it must hold
// none of this program's handles. A pipe whose writing end this process closes reads its end
// at once, while the installer started meanwhile still runs; had the installer inherited the
// writing end, the read would wait for the installer to end.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

TEST(InstallerHandles, TheInstallerInheritsNoHandleOfThisProgram) {
  // Long enough that the read below ends well before the installer does when nothing holds
  // the pipe; the installer writes its marker only after this wait.
  const ScopedEnv wait("ZELK_FAKE_INSTALLER_WAIT_MS", "2500");
  // Both sets of creation flags the installer may be started with.
  for (std::uint32_t flags : {installer_flags_breakaway, installer_flags_plain}) {
    TestFolder folder;
    const fs::path installer = folder.path() / "setup.exe";
    fs::copy_file(path_from_utf8(helper_program("fake_installer")), installer);
    fs::path marker = installer;
    marker += ".args";

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
    ASSERT_TRUE(start_installer(installer, false, flags)) << flags;
    CloseHandle(write);
    char byte = 0;
    DWORD got = 0;
    const BOOL read_something = ReadFile(read, &byte, 1, &got, nullptr);
    const DWORD read_error = GetLastError();
    const bool installer_done = fs::exists(marker);
    CloseHandle(read);
    EXPECT_FALSE(read_something) << flags;
    EXPECT_EQ(read_error, static_cast<DWORD>(ERROR_BROKEN_PIPE)) << flags;
    EXPECT_FALSE(installer_done) << flags << ": the read waited for the installer to end";

    // The installer did run, with the silent arguments.
    for (int i = 0; i < 500 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(read_file(marker).value_or("<none>"), "/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n") << flags;
  }
}

}  // namespace
}  // namespace zelk
