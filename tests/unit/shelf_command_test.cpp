#include <gtest/gtest.h>

#include "addresses.h"
#include "apps.h"
#include "catalogue_fixtures.h"
#include "files.h"
#include "shelf.h"
#include "test_context.h"
#include "test_folder.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

const std::string usage = "Usage: zelk shelf | zelk shelf add <address> | zelk shelf forget <address>";
const std::string closing_check = "\"zelk check <address>\" shows what a recipe would run before you add it.\n";
const std::string own_shelf_line =
    "The Zelk's own shelf (zelk.app): the Zelk team tries every recipe before it is put there.\n";
const std::string other_shelf_line =
    "A shelf other than the Zelk's own is kept by whoever gave you its address; the Zelk team did not review "
    "what is on it.\n";

std::string shelf_text(std::string_view name, std::initializer_list<std::string_view> files) {
  std::string text = "shelf: 1\nname: " + std::string(name) + "\nrecipes:\n";
  for (std::string_view file : files) text += "  - " + std::string(file) + "\n";
  return text;
}

class ShelfCommand : public ::testing::Test {
 protected:
  TestFolder home;
  std::vector<Recipe> recipes;
  std::optional<TestContext> fake;

  void SetUp() override { reload(); }

  void reload() {
    recipes = load_catalogue(home.path()).recipes;
    fake.emplace(home.path(), recipes);
  }

  CommandResult run(const Args& args) {
    CommandContext ctx = fake->context();
    return run_command(ctx, args);
  }

  void serve(const std::string& address, std::string text) {
    fake->runner.on("curl", curl_arguments(address, 65536, 20), ScriptedRunner::ok(std::move(text)));
  }
  void fail(const std::string& address, std::string error) {
    fake->runner.on("curl", curl_arguments(address, 65536, 20), ScriptedRunner::failed(22, std::move(error)));
  }
  void remember(std::vector<std::string> addresses) {
    ASSERT_TRUE(write_shelf_addresses(home.path(), addresses));
  }
  std::string shelves_file() { return read_file(shelves_path(home.path())).value_or("<none>"); }
};

TEST_F(ShelfCommand, UsageErrors) {
  EXPECT_EQ(usage.size(), 74u);
  EXPECT_EQ(run({"shelf", "add"}).error(), usage);
  EXPECT_EQ(run({"shelf", "list"}).error(), usage);
  EXPECT_EQ(run({"shelf", "remove", "https://example.org/s.yaml"}).error(), usage);
  EXPECT_TRUE(fake->runner.runs().empty());
}

TEST_F(ShelfCommand, ListingWithEveryOfferState) {
  const std::string shelf = "https://example.org/course/shelf.yaml";
  remember({shelf});
  // Added: stored with Windows line ends, offered with Unix ones.
  put_file(home.path() / "recipes" / "diary.yaml", sample_recipe("diary", "Diary", 34001, "\r\n"));
  // Changed: stored with another port.
  put_file(home.path() / "recipes" / "board.yaml", sample_recipe("board", "Board", 34002));
  reload();
  serve(shelf, shelf_text("Course week 3", {"notes.yaml", "diary.yaml", "board.yml", "n8n.yaml", "gone.yaml"}));
  serve("https://example.org/course/notes.yaml", sample_recipe("notes", "Notes", 34567));
  serve("https://example.org/course/diary.yaml", sample_recipe("diary", "Diary", 34001));
  serve("https://example.org/course/board.yml", sample_recipe("board", "Board", 34003));
  serve("https://example.org/course/n8n.yaml", sample_recipe("n8n", "My n8n", 34004));
  fail("https://example.org/course/gone.yaml", "curl: (22) The requested URL returned error: 404\n");

  ASSERT_TRUE(run({"shelf"}));
  EXPECT_EQ(fake->output.text,
            "Course week 3  (https://example.org/course/shelf.yaml)\n"
            "  notes        Notes\n"
            "      zelk add https://example.org/course/notes.yaml\n"
            "  diary        Diary\n"
            "      on this Zelk\n"
            "  board        Board\n"
            "      on this Zelk with another text; the shelf's one: zelk add https://example.org/course/board.yml\n"
            "  n8n.yaml\n"
            "      not usable here: The id \"n8n\" belongs to n8n, which is built in. Choose another id.\n"
            "  gone.yaml\n"
            "      not usable here: https://example.org/course/gone.yaml could not be fetched.\n"
            "    It said: curl: (22) The requested URL returned error: 404\n"
            "\n" +
                other_shelf_line + closing_check);
  // One fetch after another: the shelf, then each recipe in the listed order.
  auto lines = fake->runner.run_lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(lines[0].ends_with(" -- " + shelf));
  EXPECT_TRUE(lines[5].ends_with(" -- https://example.org/course/gone.yaml"));
}

TEST_F(ShelfCommand, DefaultShelfAloneWithoutAShelvesFile) {
  serve(std::string(default_shelf_address), shelf_text("Zelk's own", {"notes.yaml"}));
  serve("https://zelk.app/shelf/notes.yaml", sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"shelf"}));
  EXPECT_EQ(fake->output.text,
            "Zelk's own  (https://zelk.app/shelf/shelf.yaml)\n"
            "  notes        Notes\n"
            "      zelk add https://zelk.app/shelf/notes.yaml\n"
            "\n" +
                own_shelf_line + closing_check);
  EXPECT_EQ(shelves_file(), "<none>");
}

TEST_F(ShelfCommand, TwoShelvesOneFailing) {
  remember({std::string(default_shelf_address), "https://example.org/s.yaml"});
  fail(std::string(default_shelf_address), "curl: (6) Could not resolve host: zelk.app\n");
  serve("https://example.org/s.yaml", shelf_text("Other", {"a-very-long-id-of-20.yaml"}));
  serve("https://example.org/a-very-long-id-of-20.yaml", sample_recipe("abcdefghijklmnopqrst", "Long", 34567));
  ASSERT_TRUE(run({"shelf"}));
  EXPECT_EQ(fake->output.text,
            "https://zelk.app/shelf/shelf.yaml\n"
            "  https://zelk.app/shelf/shelf.yaml could not be fetched.\n"
            "    It said: curl: (6) Could not resolve host: zelk.app\n"
            "\n"
            "Other  (https://example.org/s.yaml)\n"
            "  abcdefghijklmnopqrst Long\n"
            "      zelk add https://example.org/a-very-long-id-of-20.yaml\n"
            "\n" +
                own_shelf_line + other_shelf_line + closing_check);
}

TEST_F(ShelfCommand, TheListingStopsFetchingOnceItsTimeIsSpentAndSaysWhatIsLeftOut) {
  remember({"https://example.org/s.yaml", "https://example.org/t.yaml"});
  serve("https://example.org/s.yaml", shelf_text("Slow", {"a.yaml", "b.yaml", "c.yaml", "d.yaml"}));
  serve("https://example.org/a.yaml", sample_recipe("aa", "Aa", 34567));
  serve("https://example.org/b.yaml", sample_recipe("bb", "Bb", 34568));
  // Every fetch takes 50 seconds of the clock.
  const auto start = fake->time;
  fake->now = [&] { return start + std::chrono::seconds(50) * fake->runner.runs().size(); };
  ASSERT_TRUE(run({"shelf"}));
  const std::string left_out =
      "Not fetched: the shelves took more than 120 seconds in all. Try again later: zelk shelf";
  EXPECT_EQ(fake->output.text,
            "Slow  (https://example.org/s.yaml)\n"
            "  aa           Aa\n"
            "      zelk add https://example.org/a.yaml\n"
            "  bb           Bb\n"
            "      zelk add https://example.org/b.yaml\n"
            "  c.yaml\n"
            "      not usable here: " + left_out + "\n"
            "  d.yaml\n"
            "      not usable here: " + left_out + "\n"
            "\n"
            "https://example.org/t.yaml\n"
            "  " + left_out + "\n"
            "\n" +
                other_shelf_line + closing_check);
  EXPECT_EQ(fake->runner.runs().size(), 3u);
}

TEST_F(ShelfCommand, ShelfThatIsNotAShelfShowsItsMessage) {
  remember({"https://example.org/s.yaml"});
  serve("https://example.org/s.yaml", "shelf: 2\nname: x\nrecipes:\n  - a.yaml\n");
  ASSERT_TRUE(run({"shelf"}));
  EXPECT_EQ(fake->output.text,
            "https://example.org/s.yaml\n"
            "  This Zelk reads shelves of format 1; this one says format 2.\n"
            "\n" +
                other_shelf_line + closing_check);
}

TEST_F(ShelfCommand, NoShelfAtAll) {
  remember({});
  ASSERT_TRUE(run({"shelf"}));
  EXPECT_EQ(fake->output.text,
            "No shelf is named yet. A shelf is a list of recipes on the web, for example one of a course. Name one "
            "with: zelk shelf add <address>\n");
  EXPECT_TRUE(fake->runner.runs().empty());
}

TEST_F(ShelfCommand, FirstAddWritesTheDefaultShelfAndTheNewOne) {
  serve("https://example.org/s.yaml", shelf_text("Course", {"a.yaml"}));
  ASSERT_TRUE(run({"shelf", "add", "https://example.org/s.yaml"}));
  EXPECT_EQ(fake->output.text, "\"Course\" is among your shelves now, with 1 recipe. See them with: zelk shelf\n");
  EXPECT_EQ(shelves_file(), std::string(default_shelf_address) + "\nhttps://example.org/s.yaml\n");
  // Only the shelf itself is fetched, not its recipes.
  EXPECT_EQ(fake->runner.runs().size(), 1u);
}

TEST_F(ShelfCommand, TwoRecipesAreCountedInThePlural) {
  serve("https://example.org/s.yaml", shelf_text("Course", {"a.yaml", "b.yaml"}));
  ASSERT_TRUE(run({"shelf", "add", "https://example.org/s.yaml"}));
  EXPECT_EQ(fake->output.text, "\"Course\" is among your shelves now, with 2 recipes. See them with: zelk shelf\n");
}

std::vector<std::string> numbered_shelves(int count) {
  std::vector<std::string> addresses;
  for (int i = 0; i < count; ++i) addresses.push_back("https://example.org/" + std::to_string(i) + "/shelf.yaml");
  return addresses;
}

TEST_F(ShelfCommand, NinthPlusOneIsTheTenthAndTheEleventhIsRefused) {
  remember(numbered_shelves(9));
  serve("https://example.org/new/shelf.yaml", shelf_text("New", {"a.yaml"}));
  serve("https://example.org/more/shelf.yaml", shelf_text("More", {"a.yaml"}));
  ASSERT_TRUE(run({"shelf", "add", "https://example.org/new/shelf.yaml"}));
  EXPECT_EQ(shelf_addresses(home.path()).size(), 10u);
  const std::string ten = shelves_file();
  auto refused = run({"shelf", "add", "https://example.org/more/shelf.yaml"});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "This Zelk remembers 10 shelves. Take one out first: zelk shelf forget <address>");
  EXPECT_EQ(shelves_file(), ten);
}

TEST_F(ShelfCommand, AddOfARememberedShelfConfirmsAgainWithoutWriting) {
  remember(numbered_shelves(10));
  put_file(shelves_path(home.path()), "https://example.org/3/shelf.yaml\n" + shelves_file());
  const std::string before = shelves_file();
  serve("https://example.org/3/shelf.yaml", shelf_text("Third", {"a.yaml"}));
  ASSERT_TRUE(run({"shelf", "add", "https://example.org/3/shelf.yaml"}));
  EXPECT_EQ(fake->output.text, "\"Third\" is among your shelves now, with 1 recipe. See them with: zelk shelf\n");
  EXPECT_EQ(shelves_file(), before);
  // Only a "#fragment" more: the same shelf, which the server never sees the fragment of.
  serve("https://example.org/3/shelf.yaml#week-3", shelf_text("Third", {"a.yaml"}));
  ASSERT_TRUE(run({"shelf", "add", "https://example.org/3/shelf.yaml#week-3"}));
  EXPECT_EQ(shelves_file(), before);
}

TEST_F(ShelfCommand, AddOfSomethingThatIsNotAShelf) {
  serve("https://example.org/s.yaml", "shelf: 1\nname: x\nrecipes:\n  - Notes.yaml\n");
  auto result = run({"shelf", "add", "https://example.org/s.yaml"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "\"Notes.yaml\" is not a file name a shelf can list. A recipe lies next to the shelf's list and is "
            "named with small letters, digits, \".\", \"_\" and \"-\", ending in \".yaml\".");
  EXPECT_EQ(shelves_file(), "<none>");
}

TEST_F(ShelfCommand, AddOfARefusedAddressOrAFailedFetch) {
  EXPECT_EQ(run({"shelf", "add", "-o/tmp/x"}).error(),
            "\"-o/tmp/x\" is not an address the Zelk fetches. It starts with \"https://\"; plain \"http://\" is "
            "taken from this computer only (127.0.0.1 or localhost).");
  EXPECT_TRUE(fake->runner.runs().empty());
  fail("https://example.org/s.yaml", "curl: (22) The requested URL returned error: 404\n");
  EXPECT_EQ(run({"shelf", "add", "https://example.org/s.yaml"}).error(),
            "https://example.org/s.yaml could not be fetched.\n    It said: curl: (22) The requested URL returned "
            "error: 404");
  EXPECT_EQ(shelves_file(), "<none>");
  // Without curl a shelf cannot be added from a downloaded file, as a recipe can.
  fake->runner.on("curl", {}, std::unexpected(RunError::not_found()));
  EXPECT_EQ(run({"shelf", "add", "https://example.org/s.yaml"}).error(),
            "The program \"curl\" is not on this computer; the Zelk fetches shelves with it. Install curl and try "
            "again, or download a recipe of the shelf in your browser and add it from there.");
}

TEST_F(ShelfCommand, AddOfAnAddressWithAUserPartOrAGlobIsRefused) {
  const std::string user = "It names a user before its host (\"@\"); the Zelk fetches without one.";
  for (const auto& [address, reason] : std::vector<std::pair<std::string, std::string>>{
           {"http://127.0.0.1:x@evil.org/shelf.yaml", user},
           {"http://localhost:@evil.org/s.yaml", user},
           {"https://example.org/shelf[1-9].yaml", "It holds \"[\", which is written \"%5B\" in an address."},
           {"https://example.org/]", "It holds \"]\", which is written \"%5D\" in an address."}}) {
    EXPECT_EQ(run({"shelf", "add", address}).error(),
              "\"" + address + "\" is not an address the Zelk fetches. " + reason);
  }
  EXPECT_TRUE(fake->runner.runs().empty());
  EXPECT_EQ(shelves_file(), "<none>");
}

TEST_F(ShelfCommand, ARememberedAddressWithAUserPartIsNeitherListedNorFetched) {
  put_file(shelves_path(home.path()), "http://127.0.0.1:x@evil.org/shelf.yaml\nhttps://example.org/[1-2].yaml\n");
  EXPECT_TRUE(shelf_addresses(home.path()).empty());
}

TEST_F(ShelfCommand, AddWhenTheListCannotBeWritten) {
  // A folder where the shelves file should be makes the rename fail.
  std::filesystem::create_directories(shelves_path(home.path()) / "inside");
  serve("https://example.org/s.yaml", shelf_text("Course", {"a.yaml"}));
  auto result = run({"shelf", "add", "https://example.org/s.yaml"});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("The list of shelves could not be written: ")) << result.error();
}

TEST_F(ShelfCommand, ForgetRemovesEveryEqualLine) {
  put_file(shelves_path(home.path()),
           "https://example.org/a.yaml\nhttps://example.org/b.yaml\nhttps://example.org/a.yaml#top\n"
           "https://example.org/a.yaml\n");
  ASSERT_TRUE(run({"shelf", "forget", "https://example.org/a.yaml"}));
  EXPECT_EQ(fake->output.text, "The shelf is out of the list. Apps added from it stay.\n");
  EXPECT_EQ(shelves_file(), "https://example.org/b.yaml\n");
  EXPECT_TRUE(fake->runner.runs().empty());
}

TEST_F(ShelfCommand, ForgetOfTheDefaultShelfWithoutAFileWritesAnEmptyOne) {
  put_file(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"shelf", "forget", std::string(default_shelf_address)}));
  EXPECT_EQ(shelves_file(), "");
  EXPECT_TRUE(std::filesystem::exists(home.path() / "recipes" / "notes.yaml"));
}

TEST_F(ShelfCommand, ForgetIsExactAndCaseSensitive) {
  remember({"https://example.org/a.yaml"});
  EXPECT_EQ(run({"shelf", "forget", "https://example.org/A.yaml"}).error(),
            "\"https://example.org/A.yaml\" is not among this Zelk's shelves.");
  EXPECT_EQ(run({"shelf", "forget", " https://example.org/a.yaml"}).error(),
            "\" https://example.org/a.yaml\" is not among this Zelk's shelves.");
  EXPECT_EQ(shelves_file(), "https://example.org/a.yaml\n");
}

}  // namespace
}  // namespace zelk
