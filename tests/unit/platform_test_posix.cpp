#include <gtest/gtest.h>

#include "platform.h"
#include "scoped_env.h"
#include "scripts_posix.h"
#include "test_folder.h"

namespace zelk {
namespace {

TEST(PlatformWord, IsLinux) { EXPECT_EQ(platform_word, "linux"); }

TEST(FindProgram, LeavesTheSearchToTheStart) {
  EXPECT_EQ(find_program("podman"), "podman");
  EXPECT_EQ(find_program("/usr/bin/docker"), "/usr/bin/docker");
}

TEST(OpenInBrowser, StartsXdgOpenWithTheAddressAndDoesNotWait) {
  const TestFolder folder;
  const std::filesystem::path record = folder.path() / "record";
  // Writes its arguments and its streams, then lingers as a browser would.
  write_script(folder.path(), "xdg-open",
               "streams=$(for fd in 0 1 2; do readlink /proc/$$/fd/$fd; done)\n"
               "printf '[%s]\\n' \"$@\" > '" + record.string() + ".partial'\n"
               "printf '%s\\n' \"$streams\" >> '" + record.string() + ".partial'\n"
               "mv '" + record.string() + ".partial' '" + record.string() + "'\n"
               "exec sleep 1");
  const ScopedEnv path("PATH", folder.path().string() + ":/usr/bin:/bin");
  auto opened = open_in_browser("http://127.0.0.1:8080/a b?c=d&e");
  ASSERT_TRUE(opened.has_value()) << opened.error();
  EXPECT_EQ(wait_for_text(record), "[http://127.0.0.1:8080/a b?c=d&e]\n/dev/null\n/dev/null\n/dev/null\n");
}

TEST(OpenInBrowser, AMissingHelperIsTheSystemError) {
  const TestFolder empty;
  const ScopedEnv path("PATH", empty.path().string());
  auto opened = open_in_browser("http://127.0.0.1:8080/");
  ASSERT_FALSE(opened.has_value());
  EXPECT_EQ(opened.error(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace zelk
