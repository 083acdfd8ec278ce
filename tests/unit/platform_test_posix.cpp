#include <gtest/gtest.h>

#include <optional>
#include <string>

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

TEST(OpenInBrowser, StartsXdgOpenWithTheAddressAndNullStreams) {
  const TestFolder folder;
  const std::filesystem::path record = folder.path() / "record";
  // Writes its arguments and its streams, then takes a moment to hand the address on.
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

// The opener's own answer counts: it ends once it has handed the address on, with the code
// that says whether it could.
TEST(OpenInBrowser, SucceedsOnlyWhenXdgOpenSaysItOpened) {
  struct Case {
    const char* label;
    std::string opener;  // the stand-in's body
    std::optional<std::string> error;
  };
  const Case cases[] = {
      {"opened", "exit 0", std::nullopt},
      {"no browser", "echo 'xdg-open: no method available' >&2; exit 3", "xdg-open ended with exit code 3"},
      {"killed", "kill -9 $$", "xdg-open was stopped by a signal"},
  };
  for (const Case& c : cases) {
    const TestFolder folder;
    write_script(folder.path(), "xdg-open", c.opener);
    const ScopedEnv path("PATH", folder.path().string());
    auto opened = open_in_browser("http://127.0.0.1:8080/");
    if (!c.error) {
      EXPECT_TRUE(opened.has_value()) << c.label << ": " << opened.error();
    } else {
      ASSERT_FALSE(opened.has_value()) << c.label;
      EXPECT_EQ(opened.error(), *c.error) << c.label;
    }
  }
}

TEST(OpenInBrowser, AMissingHelperIsNamed) {
  const TestFolder empty;
  const ScopedEnv path("PATH", empty.path().string());
  auto opened = open_in_browser("http://127.0.0.1:8080/");
  ASSERT_FALSE(opened.has_value());
  EXPECT_EQ(opened.error(),
            "xdg-open was not found (No such file or directory (os error 2)); it comes with the package xdg-utils");
}

}  // namespace
}  // namespace zelk
