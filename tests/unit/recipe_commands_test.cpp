#include <gtest/gtest.h>

#include "apps.h"
#include "catalogue_fixtures.h"
#include "files.h"
#include "platform.h"
#include "shelf.h"
#include "test_context.h"
#include "test_folder.h"
#include "zelk/commands.h"
#include "zelk/recipe_source.h"

namespace zelk {
namespace {

const std::string notes_description =
    "Notes (Test)\n"
    "  An app for tests.\n"
    "  Image:    docker.io/library/nginx:1.27.3\n"
    "  Address:  http://127.0.0.1:34567/ (this computer only)\n"
    "  Data:     torvo-notes-data, inside the app at /data";

const std::string nobody_reviewed =
    "Nobody has reviewed this recipe. It runs a program from the image named above: add it only if you trust "
    "who gave it to you.";
const std::string own_shelf_line =
    "It comes from the Zelk's own shelf. The Zelk team tries every recipe before it is put there.";

// A data folder with the catalogue as the console program would load it.
class RecipeCommand : public ::testing::Test {
 protected:
  TestFolder home;
  std::vector<Recipe> recipes;
  std::optional<TestContext> fake;

  void SetUp() override { reload(); }

  void reload() {
    recipes = load_catalogue(home.path()).recipes;
    std::string output = fake ? fake->output.text : std::string();
    fake.emplace(home.path(), recipes);
    fake->output.text = output;
  }

  CommandResult run(const Args& args) {
    CommandContext ctx = fake->context();
    return run_command(ctx, args);
  }

  std::string file_with(std::string_view name, std::string_view text) {
    const auto path = home.path() / "given" / path_from_utf8(name);
    put_file(path, text);
    return path_to_utf8(path);
  }

  void serve(const std::string& address, std::string text) {
    fake->runner.on("curl", curl_arguments(address, 65536, 20), ScriptedRunner::ok(std::move(text)));
  }
};

TEST(IsWebAddress, Table) {
  EXPECT_TRUE(is_web_address("https://example.org/a.yaml"));
  EXPECT_TRUE(is_web_address("http://127.0.0.1:8080/a.yaml"));
  EXPECT_TRUE(is_web_address("http://example.org/a.yaml"));  // counts as an address, refused later
  EXPECT_FALSE(is_web_address("HTTPS://example.org/a.yaml"));
  EXPECT_FALSE(is_web_address("ftp://example.org/a.yaml"));
  EXPECT_FALSE(is_web_address("https:/example.org"));
  EXPECT_FALSE(is_web_address("notes.yaml"));
}

TEST_F(RecipeCommand, CheckOfAFilePrintsTheDescriptionAndTheCompletenessLine) {
  const std::string file = file_with("notes.yaml", sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"check", file}));
  EXPECT_EQ(fake->output.text, notes_description + "\n\nThe recipe is complete. This Zelk could run it.\n");
  EXPECT_TRUE(fake->runner.runs().empty());
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes"));
}

TEST_F(RecipeCommand, CheckOfAnAddressFetchesWithCurl) {
  const std::string address = "https://example.org/notes.yaml";
  serve(address, sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"check", address}));
  EXPECT_EQ(fake->output.text, notes_description + "\n\nThe recipe is complete. This Zelk could run it.\n");
  ASSERT_EQ(fake->runner.run_lines().size(), 1u);
}

TEST_F(RecipeCommand, CheckOfAPlainRemoteAddressIsRefusedBeforeCurl) {
  auto result = run({"check", "http://example.org/app.yaml"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(),
            "\"http://example.org/app.yaml\" is not an address the Zelk fetches. It starts with \"https://\"; "
            "plain \"http://\" is taken from this computer only (127.0.0.1 or localhost).");
  EXPECT_TRUE(fake->runner.runs().empty());
}

TEST_F(RecipeCommand, AddressesThatReachAnotherHostOrManyAreRefusedBeforeCurl) {
  for (const std::string word : {"check", "add"}) {
    const std::string user = "It names a user before its host (\"@\"); the Zelk fetches without one.";
    for (const auto& [address, reason] : std::vector<std::pair<std::string, std::string>>{
             {"http://127.0.0.1:x@evil.org/app.yaml", user},
             {"http://localhost:@evil.org/app.yaml", user},
             {"https://example.org/[1-100000].yaml", "It holds \"[\", which is written \"%5B\" in an address."}}) {
      auto result = run({word, address});
      ASSERT_FALSE(result) << word << " " << address;
      EXPECT_EQ(result.error(), "\"" + address + "\" is not an address the Zelk fetches. " + reason) << word;
    }
  }
  EXPECT_TRUE(fake->runner.runs().empty());
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes"));
}

TEST_F(RecipeCommand, CheckOfARefusedRecipeNamesTheArgument) {
  const std::string file = file_with("bad.yaml", "x-zelk:\n  format: 1\n");
  auto expected = read_recipe("x-zelk:\n  format: 1\n");
  ASSERT_FALSE(expected);
  auto result = run({"check", file});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), file + "\n  " + expected.error());
  EXPECT_EQ(fake->output.text, "");
}

TEST_F(RecipeCommand, CheckOfATakenPortPrintsTheDescriptionThenFails) {
  const std::string file = file_with("notes.yaml", sample_recipe("notes", "Notes", 35678));
  auto result = run({"check", file});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "Port 35678 is the port of n8n. Choose another one.");
  EXPECT_TRUE(fake->output.text.starts_with("Notes (Test)\n")) << fake->output.text;
  EXPECT_TRUE(fake->output.text.ends_with("  Data:     torvo-notes-data, inside the app at /data\n"));
}

TEST_F(RecipeCommand, CheckOfANewVersionOfAnAddedAppSaysItWouldReplaceIt) {
  put_file(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34000));
  reload();
  const std::string file = file_with("notes.yaml", sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"check", file}));
  EXPECT_EQ(fake->output.text, notes_description +
                                   "\n\nThe recipe is complete. This Zelk could run it.\n"
                                   "It would replace the recipe with the same id that was added before.\n");
}

TEST_F(RecipeCommand, FileOfTheLimitIsReadAndOneByteMoreIsNot) {
  const std::string exact = file_with("exact.yaml", padded_to(sample_recipe("notes", "Notes", 34567), 65536));
  ASSERT_TRUE(run({"check", exact}));
  const std::string over = file_with("over.yaml", padded_to(sample_recipe("notes", "Notes", 34567), 65537));
  auto result = run({"check", over});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), over + " is too large to be a recipe: a recipe has at most 64 KiB (65,536 bytes).");
}

TEST_F(RecipeCommand, FileThatIsNotUtf8) {
  const std::string file = file_with("latin1.yaml", "name: caf\xe9\n");
  EXPECT_EQ(run({"check", file}).error(), file + " is not UTF-8 text. Save it as UTF-8 text and try again.");
  // A byte-order mark, as some Windows editors put first, is read past.
  const std::string marked = file_with("marked.yaml", "\xEF\xBB\xBF" + sample_recipe("notes", "Notes", 34567));
  EXPECT_TRUE(run({"check", marked}));
}

TEST_F(RecipeCommand, MissingFile) {
  const std::string file = path_to_utf8(home.path() / "absent.yaml");
  auto result = run({"add", file});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with(file + " could not be read: ")) << result.error();
  EXPECT_TRUE(result.error().ends_with(" (os error 2)")) << result.error();
}

TEST_F(RecipeCommand, UsageWithoutAnArgument) {
  EXPECT_EQ(run({"check"}).error(), "Usage: zelk check <file>");
  EXPECT_EQ(run({"add"}).error(), "Usage: zelk add <file>");
  EXPECT_EQ(run({"forget"}).error(), "Usage: zelk forget <app>");
}

TEST_F(RecipeCommand, AddFromAnAddressKeepsTheRecipeAndItsOrigin) {
  const std::string address = "https://example.org/recipes/notes.yaml";
  const std::string text = sample_recipe("notes", "Notes", 34567, "\r\n");
  serve(address, text);
  ASSERT_TRUE(run({"add", address}));
  EXPECT_EQ(fake->output.text, notes_description +
                                   "\n\nNotes is in the list now.\n" + nobody_reviewed +
                                   "\nStart it with: zelk start notes\n");
  EXPECT_EQ(read_file(home.path() / "recipes" / "notes.yaml").value(), text);
  EXPECT_EQ(read_file(home.path() / "recipes" / "notes.from").value(),
            address + "\n" + recipe_hash_line(text) + "\n");
  EXPECT_EQ(recipe_origin(home.path(), "notes", text), address);
}

TEST_F(RecipeCommand, AddFromTheDefaultShelfsFolderSaysSo) {
  const std::string address = "https://zelk.app/shelf/notes.yaml";
  serve(address, sample_recipe("notes", "Notes", 34567));
  ASSERT_TRUE(run({"add", address}));
  EXPECT_EQ(fake->output.text, notes_description + "\n\nNotes is in the list now.\n" + own_shelf_line +
                                   "\nStart it with: zelk start notes\n");
}

TEST_F(RecipeCommand, SameTextFromAFileIsNotReviewedAndDropsTheOldOrigin) {
  const std::string address = "https://zelk.app/shelf/notes.yaml";
  const std::string text = sample_recipe("notes", "Notes", 34567);
  serve(address, text);
  ASSERT_TRUE(run({"add", address}));
  ASSERT_TRUE(std::filesystem::exists(home.path() / "recipes" / "notes.from"));
  reload();
  fake->output.text.clear();
  const std::string file = file_with("notes.yaml", text);
  ASSERT_TRUE(run({"add", file}));
  EXPECT_EQ(fake->output.text, notes_description + "\n\nNotes is in the list now.\n" + nobody_reviewed +
                                   "\nIt replaces the recipe added before. The next start makes the container "
                                   "anew; its data stays.\nStart it with: zelk start notes\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "notes.from"));
  EXPECT_EQ(recipe_origin(home.path(), "notes", text), "");
}

// A new recipe whose data volume has another name leaves the old one's data behind: said,
// with the ways to go on, for the volumes the runtime has; one it lacks holds nothing.
TEST_F(RecipeCommand, AddThatReplacesARecipeSaysWhichDataTheNewOneDoesNotUse) {
  ASSERT_TRUE(run({"add", file_with("notes.yaml", sample_recipe("notes", "Notes", 34567))}));
  const std::string moved = file_with("moved.yaml", sample_recipe_with_volume("notes", "torvo-notes-files", "Notes",
                                                                              34567));
  const std::string replaced =
      "It replaces the recipe added before, whose data is in the data volume torvo-notes-data. The new recipe does "
      "not use it: the next start makes Notes anew without that data.\n"
      "  To keep using the data, add the recipe from before again. Otherwise ";
  struct Case {
    const char* runtime;  // the one that answers, or none
    bool volume_there;
    std::string line;
  };
  const Case cases[] = {
      {"podman", true,
       replaced + "keep a copy with \"podman volume export torvo-notes-data -o <file>\", or remove it with "
                  "\"podman volume rm torvo-notes-data\"."},
      {"docker", true, replaced + "back it up, or remove it with \"docker volume rm torvo-notes-data\"."},
      {nullptr, true, replaced + "back it up or remove it with your container runtime."},
      {"podman", false,
       "It replaces the recipe added before. The next start makes the container anew; its data stays."},
  };
  for (const Case& c : cases) {
    reload();
    fake->output.text.clear();
    for (const char* rt : {"podman", "docker"}) {
      const bool answers = c.runtime && std::string(c.runtime) == rt;
      fake->runner.on(rt, {"ps"}, answers ? ScriptedRunner::ok() : ScriptedRunner::failed(1));
      fake->runner.on(rt, {"volume"}, c.volume_there ? ScriptedRunner::ok("") : ScriptedRunner::failed(1));
    }
    ASSERT_TRUE(run({"add", moved}));
    EXPECT_NE(fake->output.text.find("\n" + c.line + "\nStart it with: zelk start notes\n"), std::string::npos)
        << fake->output.text;
    ASSERT_TRUE(write_file_atomically(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567)));
  }
}

TEST_F(RecipeCommand, AddOfABuiltInIdIsRefusedWithTheArgumentAndStoresNothing) {
  const std::string file = file_with("n8n.yaml", sample_recipe("n8n", "Other", 34567));
  auto result = run({"add", file});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), file + "\n  The id \"n8n\" belongs to n8n, which is built in. Choose another id.");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "n8n.yaml"));
  EXPECT_EQ(fake->output.text, "");
}

TEST_F(RecipeCommand, ForgetOfABuiltInAppAsksNoRuntime) {
  EXPECT_EQ(run({"forget", "gitea"}).error(), "Gitea is built in and stays in the list.");
  EXPECT_TRUE(fake->runner.runs().empty());
}

TEST_F(RecipeCommand, ForgetOfAnUnknownApp) {
  auto result = run({"forget", "nope"});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("Unknown app \"nope\". Choose: n8n, ")) << result.error();
}

TEST_F(RecipeCommand, ForgetOfAnInstalledAppFails) {
  put_file(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  reload();
  fake->runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-notes\texited\t\n"));
  EXPECT_EQ(run({"forget", "notes"}).error(), "Notes is still installed. Remove it first: zelk remove notes");
  EXPECT_TRUE(std::filesystem::exists(home.path() / "recipes" / "notes.yaml"));
}

TEST_F(RecipeCommand, ForgetWithoutARuntimeDeletesNothing) {
  put_file(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  reload();
  fake->runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake->runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  auto result = run({"forget", "notes"});
  ASSERT_FALSE(result);
  EXPECT_FALSE(result.error().empty());
  EXPECT_TRUE(std::filesystem::exists(home.path() / "recipes" / "notes.yaml"));
}

TEST_F(RecipeCommand, ForgetTakesBothFilesOutAndLeavesTheRest) {
  put_file(home.path() / "recipes" / "notes.yaml", sample_recipe("notes", "Notes", 34567));
  put_file(home.path() / "recipes" / "notes.from", "https://example.org/notes.yaml\nabc\n");
  put_file(home.path() / "apps" / "notes" / ".env", "NOTES_KEY=x\n");
  reload();
  fake->runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-other\trunning\t\n"));
  ASSERT_TRUE(run({"forget", "notes"}));
  EXPECT_EQ(fake->output.text, "Notes is out of the list. Its data and settings were not touched.\n");
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "notes.yaml"));
  EXPECT_FALSE(std::filesystem::exists(home.path() / "recipes" / "notes.from"));
  EXPECT_TRUE(std::filesystem::exists(home.path() / "apps" / "notes" / ".env"));
}

}  // namespace
}  // namespace zelk
