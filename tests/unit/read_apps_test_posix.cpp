#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "apps_read.h"
#include "envfile.h"
#include "platform.h"
#include "scoped_env.h"
#include "scripts_posix.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"

namespace zelk {
namespace {

// A stand-in Podman on PATH lists a running app and then keeps its list call going until that
// app has been probed (or a long while has passed), as a runtime does while it ends.
TEST(ReadApps, ProbesAnAppOnceItsContainersAreListedWhileTheListCallStillEnds) {
  TestFolder folder;
  const std::filesystem::path probed = folder.path() / "probed";
  const std::filesystem::path in_time = folder.path() / "probed-while-listing";
  write_script(folder.path(), "podman",
               "printf 'torvo-web\\trunning\\tmap[]\\ntorvo-old\\texited\\tmap[]\\n'\n"
               "i=0\n"
               "while [ ! -e '" + probed.string() + "' ] && [ $i -lt 80 ]; do\n"
               "  sleep 0.1; i=$((i + 1))\n"
               "done\n"
               "[ -e '" + probed.string() + "' ] && : > '" + in_time.string() + "'\n"
               "exit 0");
  const ScopedEnv path("PATH", path_to_utf8(folder.path()) + ":/usr/bin:/bin");

  const std::vector<Recipe> recipes{recipe_named("old", 6001), recipe_named("web", 6002), recipe_named("new", 6003)};
  TestContext fake(folder.path() / "home", recipes);
  fake.probe_answer = [&](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    std::ofstream(probed).flush();
    return port == 6002 ? std::optional<std::uint16_t>(200) : std::nullopt;
  };
  const SystemRunner runner;
  auto read = read_apps(fake.context(&runner));
  ASSERT_TRUE(read) << read.error();
  EXPECT_EQ(read->choice.runtime.command, "podman");
  EXPECT_EQ(read->states,
            (std::vector<AppState>{AppState::state("exited"), AppState::ready(), AppState::not_installed()}));
  EXPECT_EQ(fake.probes, (std::vector<std::pair<std::uint16_t, std::string>>{{6002, "/health"}}));
  EXPECT_TRUE(std::filesystem::exists(in_time)) << "the app was probed only after the list call had ended";
}

}  // namespace
}  // namespace zelk
