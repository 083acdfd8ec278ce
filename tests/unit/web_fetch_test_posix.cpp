// Fetches with the real curl from a real web server on 127.0.0.1, and the zelk program itself
// driving them end to end.
#include <gtest/gtest.h>
#include <unistd.h>

#include "apps.h"
#include "catalogue_fixtures.h"
#include "child_programs.h"
#include "files.h"
#include "local_web_server.h"
#include "platform.h"
#include "runner.h"
#include "scoped_env.h"
#include "scripts_posix.h"
#include "sha256.h"
#include "shelf.h"
#include "test_folder.h"
#include "update.h"

namespace zelk {
namespace {

const std::string refused_plain_remote =
    "\"http://example.org/app.yaml\" is not an address the Zelk fetches. It starts with \"https://\"; plain "
    "\"http://\" is taken from this computer only (127.0.0.1 or localhost).";

class RealFetch : public ::testing::Test {
 protected:
  LocalWebServer server;
  SystemRunner runner;
};

TEST_F(RealFetch, RecipeTextComesBackWhole) {
  const std::string text = sample_recipe("notes", "Notes", 34567, "\r\n");
  server.put("notes.yaml", text);
  auto fetched = fetch_address(runner, server.address("notes.yaml"));
  ASSERT_TRUE(fetched) << fetched.error();
  EXPECT_EQ(*fetched, text);
}

TEST_F(RealFetch, BodyOfTheLimitIsReturned) {
  server.put("exact.yaml", std::string(65536, 'a'));
  auto fetched = fetch_address(runner, server.address("exact.yaml"));
  ASSERT_TRUE(fetched) << fetched.error();
  EXPECT_EQ(fetched->size(), 65536u);
}

TEST_F(RealFetch, AnnouncedBodyOneByteOverIsStoppedByCurl) {
  server.put("over.yaml", std::string(65537, 'a'));
  EXPECT_EQ(fetch_address(runner, server.address("over.yaml")).error(),
            server.address("over.yaml") + " could not be fetched.\n    It said: curl: (63) Maximum file size exceeded");
}

TEST_F(RealFetch, UnannouncedBodyOneByteOverIsRefusedAfterTheRun) {
  server.put("over.yaml", std::string(65537, 'a'));
  EXPECT_EQ(fetch_address(runner, server.address("unsized/over.yaml")).error(),
            server.address("unsized/over.yaml") + " is too large to be a recipe: a recipe has at most 64 KiB "
                                                  "(65,536 bytes).");
}

TEST_F(RealFetch, NotFoundQuotesCurlsErrorLine) {
  EXPECT_EQ(fetch_address(runner, server.address("absent.yaml")).error(),
            server.address("absent.yaml") +
                " could not be fetched.\n    It said: curl: (22) The requested URL returned error: 404");
}

TEST_F(RealFetch, RedirectToPlainHttpIsRefused) {
  server.put("notes.yaml", "text");
  const std::string address = server.address("redirect-plain/notes.yaml");
  auto fetched = fetch_address(runner, address);
  ASSERT_FALSE(fetched);
  EXPECT_EQ(fetched.error(), address + " leads on to a plain http address, which is not fetched: only https is.");
}

// The one test that waits for curl's own 20 seconds.
TEST_F(RealFetch, BodyThatNeverEndsIsCutByCurlsTimeLimit) {
  const std::string address = server.address("endless");
  auto fetched = fetch_address(runner, address);
  ASSERT_FALSE(fetched);
  const std::string start = address + " could not be fetched.\n    It said: curl: (28) Operation timed out after ";
  EXPECT_TRUE(fetched.error().starts_with(start)) << fetched.error();
  EXPECT_TRUE(fetched.error().ends_with(" bytes received")) << fetched.error();
}

TEST_F(RealFetch, AChunkedAnswerWithoutEndIsCutAtTheLimitAndCurlEnded) {
  const std::string address = server.address("flood.yaml");
  EXPECT_EQ(fetch_address(runner, address).error(),
            address + " is too large to be a recipe: a recipe has at most 64 KiB (65,536 bytes).");
  // curl was ended, not drained: the server saw it hang up after a few of its chunks.
  const std::string outcome = server.flood_outcome();
  ASSERT_TRUE(outcome.ends_with(" hung up")) << outcome;
  EXPECT_LT(std::stoull(outcome), 32ull << 20) << outcome;
}

TEST_F(RealFetch, CurlMissingFromPath) {
  TestFolder empty;
  ScopedEnv path("PATH", empty.path().string());
  EXPECT_EQ(fetch_address(runner, server.address("notes.yaml")).error(),
            "The program \"curl\" is not on this computer; the Zelk fetches with it. Download the file in your "
            "browser and add it from there.");
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("latest.txt"));
  // Looking for a newer version without curl gives the update's own advice, not a recipe's.
  EXPECT_EQ(check_for_update(runner, "0.2.0-alpha.15").error(),
            "The program \"curl\" is not on this computer; the Zelk fetches with it. Get the newest Zelk from "
            "https://zelk.app/download/");
  EXPECT_EQ(download_update(home.path(), runner, UpdateOffer{"9.0.0", "z.run", std::string(64, 'a'), 1}).error(),
            "The program \"curl\" is not on this computer; the Zelk fetches with it. Get the newest Zelk from "
            "https://zelk.app/download/");
}

TEST_F(RealFetch, ShelvesWithEveryOfferState) {
  TestFolder home;
  const std::string shelf = server.address("course/shelf.yaml");
  ASSERT_TRUE(write_shelf_addresses(home.path(), std::vector<std::string>{shelf, server.address("gone/shelf.yaml")}));
  put_file(home.path() / "recipes" / "diary.yaml", sample_recipe("diary", "Diary", 34001, "\r\n"));
  put_file(home.path() / "recipes" / "board.yaml", sample_recipe("board", "Board", 34002));
  server.put("course/shelf.yaml",
             "shelf: 1\nname: Course\nrecipes:\n  - notes.yaml\n  - diary.yaml\n  - board.yaml\n  - n8n.yaml\n");
  server.put("course/notes.yaml", sample_recipe("notes", "Notes", 34567));
  server.put("course/diary.yaml", sample_recipe("diary", "Diary", 34001));
  server.put("course/board.yaml", sample_recipe("board", "Board", 34003));
  server.put("course/n8n.yaml", sample_recipe("n8n", "Mine", 34004));

  const auto catalogue = load_catalogue(home.path());
  auto views = gather_shelves(home.path(), runner, catalogue.recipes);
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0].address, shelf);
  EXPECT_FALSE(views[0].error);
  EXPECT_EQ(views[0].name, "Course");
  ASSERT_EQ(views[0].offers.size(), 4u);
  EXPECT_EQ(views[0].offers[0].state, ShelfOffer::State::New);
  EXPECT_EQ(views[0].offers[0].address, server.address("course/notes.yaml"));
  EXPECT_EQ(views[0].offers[0].text, sample_recipe("notes", "Notes", 34567));
  EXPECT_EQ(views[0].offers[1].state, ShelfOffer::State::Added);
  EXPECT_EQ(views[0].offers[2].state, ShelfOffer::State::Changed);
  EXPECT_EQ(views[0].offers[2].recipe->port, 34003);
  EXPECT_EQ(views[0].offers[3].state, ShelfOffer::State::Refused);
  EXPECT_EQ(views[0].offers[3].message, "The id \"n8n\" belongs to n8n, which is built in. Choose another id.");
  EXPECT_FALSE(views[0].offers[3].recipe);
  EXPECT_EQ(views[1].error,
            server.address("gone/shelf.yaml") +
                " could not be fetched.\n    It said: curl: (22) The requested URL returned error: 404");
}

TEST_F(RealFetch, InstallerWithTheRightSizeAndSha256) {
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  const std::string bytes(200000, 'z');
  server.put("downloads/zelk-setup.run", bytes);
  auto path = download_update(home.path(), runner, UpdateOffer{"9.0.0", "zelk-setup.run", sha256_hex(bytes), 200000});
  ASSERT_TRUE(path) << path.error();
  EXPECT_EQ(*path, home.path() / "update" / "zelk-setup.run");
  EXPECT_EQ(read_file(*path).value(), bytes);
}

TEST_F(RealFetch, InstallerOfAnotherSizeIsDeleted) {
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  const std::string bytes(200000, 'z');
  server.put("downloads/zelk-setup.run", bytes);
  auto path = download_update(home.path(), runner, UpdateOffer{"9.0.0", "zelk-setup.run", sha256_hex(bytes), 200001});
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(),
            "The fetched file has 200000 bytes and should have 200001. It was deleted; nothing was changed.");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update" / "zelk-setup.run"));
}

TEST_F(RealFetch, AnInstallerWithoutEndIsCutPastItsSizeAndDeleted) {
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  auto path =
      download_update(home.path(), runner, UpdateOffer{"9.0.0", "flood-setup.run", std::string(64, 'a'), 100000});
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(),
            "The fetched file is larger than the 100000 bytes it should have. It was deleted; nothing was changed.");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update" / "flood-setup.run"));
  const std::string outcome = server.flood_outcome();
  EXPECT_TRUE(outcome.ends_with(" hung up")) << outcome;
}

TEST_F(RealFetch, InstallerWithAnotherSha256IsDeleted) {
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  const std::string bytes(200000, 'z');
  server.put("downloads/zelk-setup.run", bytes);
  auto path = download_update(home.path(), runner, UpdateOffer{"9.0.0", "zelk-setup.run", sha256_hex("other"), 200000});
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(),
            "The fetched file is not the one the website names: its SHA-256 differs. It was deleted; nothing was "
            "changed.");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update" / "zelk-setup.run"));
}

TEST_F(RealFetch, MissingInstallerQuotesCurl) {
  TestFolder home;
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  auto path = download_update(home.path(), runner, UpdateOffer{"9.0.0", "absent.run", std::string(64, 'a'), 5});
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(), server.address("downloads/absent.run") +
                              " could not be fetched.\n    It said: curl: (22) The requested URL returned error: 404");
}

// ---- the zelk program itself, with a data folder of its own ----

struct ProgramRun {
  std::string out;
  std::string err;
  int code = -1;
};

class ZelkProgram : public RealFetch {
 protected:
  TestFolder home;
  ScopedEnv zelk_home{"ZELK_HOME", home.path().string()};

  ProgramRun zelk(std::vector<std::string> args) {
    auto run = runner.run_captured(zelk_program(), args, std::chrono::seconds(120));
    if (!run) return {"", fmt_run_error(run.error()), -1};
    return {run->stdout_text, run->stderr_text, run->exit_code.value_or(-1)};
  }
};

TEST_F(ZelkProgram, CheckOfALocalAddressPrintsTheDescription) {
  server.put("notes.yaml", sample_recipe("notes", "Notes", 34567));
  auto run = zelk({"check", server.address("notes.yaml")});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "Notes (Test)\n"
            "  An app for tests.\n"
            "  Image:    docker.io/library/nginx:1.27.3\n"
            "  Address:  http://127.0.0.1:34567/ (this computer only)\n"
            "  Data:     torvo-notes-data, inside the app at /data\n"
            "\n"
            "The recipe is complete. This Zelk could run it.\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes"));
}

TEST_F(ZelkProgram, CheckOfAPlainRemoteAddressIsRefusedBeforeCurlRuns) {
  // No curl on PATH: had the check let the address through, the message would be curl's.
  TestFolder empty;
  ScopedEnv path("PATH", empty.path().string());
  auto run = zelk({"check", "http://example.org/app.yaml"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "zelk: " + refused_plain_remote + "\n");
}

TEST_F(ZelkProgram, AddThenForget) {
  // A runtime stand-in that lists no container, so forgetting is allowed.
  TestFolder bin;
  write_script(bin.path(), "podman", "exit 0\n");
  ScopedEnv path("PATH", bin.path().string() + ":" + get_env("PATH").value_or("/usr/bin:/bin"));
  const std::string address = server.address("notes.yaml");
  const std::string text = sample_recipe("notes", "Notes", 34567);
  server.put("notes.yaml", text);

  auto added = zelk({"add", address});
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_TRUE(added.out.ends_with("\nNotes is in the list now.\nNobody has reviewed this recipe. It runs a program "
                                  "from the image named above: add it only if you trust who gave it to you.\n"
                                  "Start it with: zelk start notes\n"))
      << added.out;
  EXPECT_EQ(read_file(home.path() / "recipes" / "notes.yaml").value(), text);
  EXPECT_EQ(read_file(home.path() / "recipes" / "notes.from").value(), address + "\n" + recipe_hash_line(text) + "\n");
  EXPECT_NE(zelk({"list"}).out.find("notes"), std::string::npos);

  auto forgotten = zelk({"forget", "notes"});
  EXPECT_EQ(forgotten.code, 0) << forgotten.err;
  EXPECT_EQ(forgotten.out, "Notes is out of the list. Its data and settings were not touched.\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "notes.yaml"));
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "notes.from"));
}

TEST_F(ZelkProgram, ShelfAddThenListWithEveryState) {
  server.put("course/shelf.yaml", "shelf: 1\nname: Course\nrecipes:\n  - notes.yaml\n  - diary.yaml\n  - board.yaml\n"
                                  "  - n8n.yaml\n");
  server.put("course/notes.yaml", sample_recipe("notes", "Notes", 34567));
  server.put("course/diary.yaml", sample_recipe("diary", "Diary", 34001));
  server.put("course/board.yaml", sample_recipe("board", "Board", 34003));
  server.put("course/n8n.yaml", sample_recipe("n8n", "Mine", 34004));
  put_file(home.path() / "recipes" / "diary.yaml", sample_recipe("diary", "Diary", 34001));
  put_file(home.path() / "recipes" / "board.yaml", sample_recipe("board", "Board", 34002));
  ASSERT_TRUE(write_shelf_addresses(home.path(), std::vector<std::string>{}));

  const std::string shelf = server.address("course/shelf.yaml");
  auto added = zelk({"shelf", "add", shelf});
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_EQ(added.out, "\"Course\" is among your shelves now, with 4 recipes. See them with: zelk shelf\n");
  EXPECT_EQ(read_file(home.path() / "shelves").value(), shelf + "\n");

  auto listed = zelk({"shelf"});
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_EQ(
      listed.out,
      "Course  (" + shelf +
          ")\n"
          "  notes        Notes\n"
          "      zelk add " +
          server.address("course/notes.yaml") +
          "\n"
          "  diary        Diary\n"
          "      on this Zelk\n"
          "  board        Board\n"
          "      on this Zelk with another text; the shelf's one: zelk add " +
          server.address("course/board.yaml") +
          "\n"
          "  n8n.yaml\n"
          "      not usable here: The id \"n8n\" belongs to n8n, which is built in. Choose another id.\n"
          "\n"
          "A shelf other than the Zelk's own is kept by whoever gave you its address; the Zelk team did not review "
          "what is on it.\n"
          "\"zelk check <address>\" shows what a recipe would run before you add it.\n");

  auto forgotten = zelk({"shelf", "forget", shelf});
  EXPECT_EQ(forgotten.code, 0) << forgotten.err;
  EXPECT_EQ(read_file(home.path() / "shelves").value(), "");
}

// The stand-in installer records its arguments, where its streams go and its session.
constexpr std::string_view installer_script =
    "#!/bin/sh\n"
    "streams=\"in=$(readlink /proc/$$/fd/0) out=$(readlink /proc/$$/fd/1) err=$(readlink /proc/$$/fd/2)\"\n"
    "{ printf '%s\\n' \"$@\"\n"
    "  echo \"$streams\"\n"
    "  echo \"sid=$(cut -d' ' -f6 /proc/$$/stat)\"\n"
    "} > \"$0.args.tmp\" && mv \"$0.args.tmp\" \"$0.args\"\n";

TEST_F(ZelkProgram, UpdateLookNamesTheNewerVersion) {
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  server.put("releases/latest.txt", "# versions\nformat 1\nwindows-x64 9.0.0 5 " + std::string(64, 'a') +
                                        " z.exe\nlinux-x64 0.2.0 5 " + std::string(64, 'a') + " z.run\n");
  auto run = zelk({"update", "look"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "Version 0.2.0 is out. This Zelk is version 0.2.0-alpha.15.\n"
            "\"zelk update\" fetches it and puts it in place. The apps keep running.\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update"));
}

TEST_F(ZelkProgram, UpdateFetchesChecksAndStartsTheInstallerDetached) {
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  const std::string installer(installer_script);
  server.put("downloads/zelk-0.2.0-setup.run", installer);
  server.put("releases/latest.txt", "format 1\nlinux-x64 0.2.0 " + std::to_string(installer.size()) + " " +
                                        sha256_hex(installer) + " zelk-0.2.0-setup.run\n");
  auto run = zelk({"update"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out,
            "Version 0.2.0 is out. This Zelk is version 0.2.0-alpha.15.\n"
            "Fetched and checked: size and SHA-256 are the ones the website names.\n"
            "The fetched program runs now and needs a few seconds. The apps keep running.\n");
  const auto fetched = home.path() / "update" / "zelk-0.2.0-setup.run";
  EXPECT_EQ(read_file(fetched).value(), installer);
  auto marker = fetched;
  marker += ".args";
  const std::string recorded = wait_for_text(marker);
  // No argument at all: the script's printf writes one empty line for none.
  EXPECT_TRUE(recorded.starts_with("\nin=/dev/null out=/dev/null err=/dev/null\nsid="))
      << recorded;
  // A session of its own: it outlives this program and the console it ran in.
  EXPECT_EQ(recorded.find("sid=" + std::to_string(getsid(0)) + "\n"), std::string::npos) << recorded;
}

TEST_F(ZelkProgram, UpdateWithAWrongSha256DeletesTheFile) {
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  const std::string installer(installer_script);
  server.put("downloads/zelk-0.2.0-setup.run", installer);
  server.put("releases/latest.txt", "format 1\nlinux-x64 0.2.0 " + std::to_string(installer.size()) + " " +
                                        std::string(64, 'b') + " zelk-0.2.0-setup.run\n");
  auto run = zelk({"update"});
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "Version 0.2.0 is out. This Zelk is version 0.2.0-alpha.15.\n");
  EXPECT_EQ(run.err,
            "zelk: The fetched file is not the one the website names: its SHA-256 differs. It was deleted; nothing "
            "was changed.\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "update" / "zelk-0.2.0-setup.run"));
}

TEST_F(ZelkProgram, UpdateOnTheNewestVersion) {
  ScopedEnv list("ZELK_UPDATE_ADDRESS", server.address("releases/latest.txt"));
  server.put("releases/latest.txt", "format 1\nlinux-x64 0.2.0-alpha.15 5 " + std::string(64, 'a') + " z.run\n");
  auto run = zelk({"update"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "This Zelk is version 0.2.0-alpha.15, the newest.\n");
}

}  // namespace
}  // namespace zelk
