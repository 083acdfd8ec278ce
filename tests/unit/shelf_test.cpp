#include <gtest/gtest.h>

#include <fstream>

#include "addresses.h"
#include "files.h"
#include "platform.h"
#include "shelf.h"
#include "test_folder.h"

namespace zelk {
namespace {

const std::string base =
    "This is not a shelf. A shelf is a short list:\n"
    "  shelf: 1\n"
    "  name: <what it is>\n"
    "  recipes:\n"
    "    - <file name>.yaml";

std::string bad_name(std::string_view entry) {
  return "\"" + std::string(entry) +
         "\" is not a file name a shelf can list. A recipe lies next to the shelf's list and is "
         "named with small letters, digits, \".\", \"_\" and \"-\", ending in \".yaml\".";
}

const std::string name_message = "A shelf has a \"name\" of up to 60 characters.";
const std::string plain_name_message =
    "A shelf's \"name\" is plain text: no control characters, no marks that turn the reading direction.";

std::string list_of(std::size_t count) {
  std::string text = "shelf: 1\nname: Many\nrecipes:\n";
  for (std::size_t i = 0; i < count; ++i) text += "  - app" + std::to_string(i) + ".yaml\n";
  return text;
}

struct ShelfCase {
  std::string label;
  std::string text;
  std::string message;
};

void PrintTo(const ShelfCase& c, std::ostream* os) { *os << c.label; }

class ShelfRefusal : public ::testing::TestWithParam<ShelfCase> {};

TEST_P(ShelfRefusal, GivesTheFirstFailure) {
  auto shelf = parse_shelf(GetParam().text, "https://example.org/lists/shelf.yaml");
  ASSERT_FALSE(shelf) << GetParam().label;
  EXPECT_EQ(shelf.error(), GetParam().message) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShelfRefusal,
    ::testing::Values(
        ShelfCase{"empty", "", base + "\n  (The file is empty.)"},
        ShelfCase{"not the subset", "just words\n",
                  base + "\n  (Line 1: expected a setting of the form \"name: value\".)"},
        ShelfCase{"list", "- a.yaml\n", base},
        ShelfCase{"extra key", "shelf: 1\ntitle: x\nname: A\nrecipes:\n  - a.yaml\n",
                  base + "\n  (it has \"title\", which a shelf does not have)"},
        ShelfCase{"unknown key before a bad format", "zone: 1\nshelf: 9\n",
                  base + "\n  (it has \"zone\", which a shelf does not have)"},
        ShelfCase{"no format", "name: A\nrecipes:\n  - a.yaml\n", base},
        ShelfCase{"format as list", "shelf:\n  - 1\nname: A\nrecipes:\n  - a.yaml\n", base},
        ShelfCase{"format 2", "shelf: 2\nname: A\nrecipes:\n  - a.yaml\n",
                  "This Zelk reads shelves of format 1; this one says format 2."},
        ShelfCase{"format 1.0", "shelf: \"1.0\"\nname: A\nrecipes:\n  - a.yaml\n",
                  "This Zelk reads shelves of format 1; this one says format 1.0."},
        ShelfCase{"no name", "shelf: 1\nrecipes:\n  - a.yaml\n", name_message},
        ShelfCase{"empty name", "shelf: 1\nname: \"\"\nrecipes:\n  - a.yaml\n", name_message},
        ShelfCase{"name of 61", "shelf: 1\nname: " + std::string(61, 'n') + "\nrecipes:\n  - a.yaml\n",
                  name_message},
        ShelfCase{"name with a C1 control", "shelf: 1\nname: \"a\xc2\x85" "b\"\nrecipes:\n  - a.yaml\n",
                  plain_name_message},
        // What a stranger's shelf says is never shown so that it redraws the console line or
        // reads backwards: such a name is refused, and a quoted entry or format shows its escapes.
        ShelfCase{"name that redraws the line",
                  "shelf: 1\nname: \"\x1b[2K\rzelk add https://x\"\nrecipes:\n  - a.yaml\n", plain_name_message},
        ShelfCase{"name read backwards", "shelf: 1\nname: Course \xe2\x80\xae" "3 keew\nrecipes:\n  - a.yaml\n",
                  plain_name_message},
        ShelfCase{"entry that redraws the line", "shelf: 1\nname: A\nrecipes:\n  - \"\x1b[2K\rzelk add x.yaml\"\n",
                  bad_name("\\x1b[2K\\rzelk add x.yaml")},
        ShelfCase{"entry read backwards", "shelf: 1\nname: A\nrecipes:\n  - app\xe2\x80\xaelmay.yaml\n",
                  bad_name("app\\u202elmay.yaml")},
        ShelfCase{"format that redraws the line", "shelf: \"\x1b[2K\r1\"\nname: A\nrecipes:\n  - a.yaml\n",
                  "This Zelk reads shelves of format 1; this one says format \\x1b[2K\\r1."},
        ShelfCase{"name as mapping", "shelf: 1\nname:\n  x: y\nrecipes:\n  - a.yaml\n", name_message},
        ShelfCase{"no recipes", "shelf: 1\nname: A\n", base},
        ShelfCase{"recipes as text", "shelf: 1\nname: A\nrecipes: a.yaml\n", base},
        ShelfCase{"51 recipes", list_of(51), "A shelf lists 1 to 50 recipes; this one lists 51."},
        ShelfCase{"capital entry", "shelf: 1\nname: A\nrecipes:\n  - Notes.yaml\n", bad_name("Notes.yaml")},
        ShelfCase{"entry as mapping", "shelf: 1\nname: A\nrecipes:\n  -\n    x: y\n", bad_name("")},
        ShelfCase{"empty entry", "shelf: 1\nname: A\nrecipes:\n  - a.yaml\n  -\n", bad_name("")},
        ShelfCase{"twice", "shelf: 1\nname: A\nrecipes:\n  - a.yaml\n  - b.yml\n  - a.yaml\n",
                  "The shelf lists \"a.yaml\" twice."}));

TEST(ParseShelf, GoodShelfWithAddressesNextToIt) {
  auto shelf = parse_shelf("# a course\nshelf: 1\nname: Course week 3\nrecipes:\n  - notes.yaml\n  - 0-app.yml\n",
                           "https://example.org/lists/shelf.yaml");
  ASSERT_TRUE(shelf) << shelf.error();
  EXPECT_EQ(shelf->name, "Course week 3");
  EXPECT_EQ(shelf->recipes,
            (std::vector<ShelfRecipe>{{"notes.yaml", "https://example.org/lists/notes.yaml"},
                                      {"0-app.yml", "https://example.org/lists/0-app.yml"}}));
}

TEST(ParseShelf, FiftyRecipesAndANameOfSixtyCharactersPass) {
  auto many = parse_shelf(list_of(50), "https://example.org/shelf.yaml");
  ASSERT_TRUE(many) << many.error();
  EXPECT_EQ(many->recipes.size(), 50u);
  // 60 characters, most of them two bytes long.
  std::string name;
  for (int i = 0; i < 60; ++i) name += "\xc3\xa4";
  auto wide = parse_shelf("shelf: 1\nname: " + name + "\nrecipes:\n  - a.yaml\n", "https://e.org/s.yaml");
  ASSERT_TRUE(wide) << wide.error();
  EXPECT_EQ(wide->name, name);
}

TEST(ShelfFileName, Table) {
  for (const std::string& good : std::vector<std::string>{"notes.yaml", "0-app.yml", "my_app.v2.yaml", "a.yaml",
                           std::string(60, 'a') + ".yaml"}) {
    EXPECT_TRUE(is_shelf_file_name(good)) << good;
  }
  for (const std::string& bad :
       std::vector<std::string>{"Notes.yaml", "-x.yaml", "a..b.yaml", "x.txt", ".yaml", "_a.yaml", ".a.yaml",
                                "a/b.yaml", "a b.yaml", "a.YAML", "a.yaml ", "", std::string(61, 'a') + ".yaml"}) {
    EXPECT_FALSE(is_shelf_file_name(bad)) << bad;
  }
}

TEST(DefaultShelf, IsASecureAddressOnTheMakersHostEndingInShelfYaml) {
  EXPECT_TRUE(check_web_address(default_shelf_address));
  EXPECT_TRUE(default_shelf_address.starts_with("https://" + std::string(maker_host) + "/"));
  EXPECT_TRUE(default_shelf_address.ends_with("/shelf/shelf.yaml"));
}

TEST(DefaultShelfRecipe, Table) {
  const std::string folder = "https://zelk.app/shelf/";
  EXPECT_TRUE(is_default_shelf_recipe(folder + "notes.yaml"));
  EXPECT_TRUE(is_default_shelf_recipe(folder + "0-app.yml"));
  EXPECT_FALSE(is_default_shelf_recipe(default_shelf_address));
  EXPECT_FALSE(is_default_shelf_recipe(folder + "sub/notes.yaml"));
  EXPECT_FALSE(is_default_shelf_recipe(folder + "Notes.yaml"));
  EXPECT_FALSE(is_default_shelf_recipe("https://zelk.app/other/notes.yaml"));
  EXPECT_FALSE(is_default_shelf_recipe("http://zelk.app/shelf/notes.yaml"));
  EXPECT_FALSE(is_default_shelf_recipe(""));
  EXPECT_FALSE(is_default_shelf_recipe("/tmp/notes.yaml"));
}

void put(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(ShelfAddresses, MissingFileGivesTheDefaultShelfAlone) {
  TestFolder home;
  EXPECT_EQ(shelf_addresses(home.path()), std::vector<std::string>{std::string(default_shelf_address)});
}

TEST(ShelfAddresses, FileThatIsNotUtf8GivesTheDefaultShelfAlone) {
  TestFolder home;
  put(shelves_path(home.path()), "https://example.org/a.yaml\n\xff\n");
  EXPECT_EQ(shelf_addresses(home.path()), std::vector<std::string>{std::string(default_shelf_address)});
}

TEST(ShelfAddresses, FolderInPlaceOfTheFileGivesTheDefaultShelfAlone) {
  TestFolder home;
  std::filesystem::create_directories(shelves_path(home.path()));
  EXPECT_EQ(shelf_addresses(home.path()), std::vector<std::string>{std::string(default_shelf_address)});
}

TEST(ShelfAddresses, LineOfSpacesOnlyGivesAnEmptyList) {
  TestFolder home;
  put(shelves_path(home.path()), "    \n");
  EXPECT_TRUE(shelf_addresses(home.path()).empty());
  put(shelves_path(home.path()), "");
  EXPECT_TRUE(shelf_addresses(home.path()).empty());
}

TEST(ShelfAddresses, TrimsLinesAndSkipsBrokenOnesInSilence) {
  TestFolder home;
  put(shelves_path(home.path()),
      "  https://example.org/a/shelf.yaml \r\n"
      "ftp://example.org/shelf.yaml\n"
      "\thttp://127.0.0.1:8080/shelf.yaml\n"
      "https://bad host/shelf.yaml\n"
      "https://example.org/a/shelf.yaml");
  EXPECT_EQ(shelf_addresses(home.path()),
            (std::vector<std::string>{"https://example.org/a/shelf.yaml", "http://127.0.0.1:8080/shelf.yaml",
                                      "https://example.org/a/shelf.yaml"}));
}

TEST(WriteShelfAddresses, WritesOneLineEachAndCreatesTheDataFolder) {
  TestFolder root;
  const auto home = root.path() / "deep" / "home";
  std::vector<std::string> addresses{std::string(default_shelf_address), "https://example.org/s.yaml"};
  ASSERT_TRUE(write_shelf_addresses(home, addresses));
  EXPECT_EQ(read_file(home / "shelves").value(), std::string(default_shelf_address) + "\nhttps://example.org/s.yaml\n");
  EXPECT_EQ(shelf_addresses(home), addresses);
  ASSERT_TRUE(write_shelf_addresses(home, {}));
  EXPECT_EQ(read_file(home / "shelves").value(), "");
  EXPECT_TRUE(shelf_addresses(home).empty());
}

TEST(WriteShelfAddresses, FailureSaysTheListCouldNotBeWritten) {
  TestFolder root;
  // The data folder's place is taken by a file, so nothing can be written below it.
  put(root.path() / "home", "not a folder");
  auto written = write_shelf_addresses(root.path() / "home", std::vector<std::string>{"https://e.org/s.yaml"});
  ASSERT_FALSE(written);
  EXPECT_TRUE(written.error().starts_with("The list of shelves could not be written: ")) << written.error();
  EXPECT_GT(written.error().size(), std::string("The list of shelves could not be written: ").size());
}

TEST(UnixLineEnds, OnlyPairsChange) {
  EXPECT_EQ(unix_line_ends("a\r\nb\rc\n\r\n\r"), "a\nb\rc\n\n\r");
}

}  // namespace
}  // namespace zelk
