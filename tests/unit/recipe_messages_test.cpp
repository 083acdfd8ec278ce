// Every way a recipe is refused: each case is a whole recipe text (one of the sample recipes
// with one change, or a short text of its own) and the whole message read_recipe gives.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recipe.h"
#include "sample_recipes.h"

namespace zelk {
namespace {

struct Edit {
  std::string_view from;
  std::string_view to;
};

struct Case {
  const char* title;
  std::string_view base;
  std::vector<Edit> edits;
  std::string_view expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.title; }

constexpr std::string_view N = samples::notes_recipe;
constexpr std::string_view W = samples::wiki_recipe;

class RecipeMessages : public testing::TestWithParam<Case> {};

TEST_P(RecipeMessages, GivesTheWholeMessage) {
  const Case& c = GetParam();
  std::string text(c.base);
  for (const Edit& edit : c.edits) {
    const std::size_t at = text.find(edit.from);
    ASSERT_NE(at, std::string::npos) << "not in the text: " << edit.from;
    ASSERT_EQ(text.find(edit.from, at + 1), std::string::npos) << "twice: " << edit.from;
    text.replace(at, edit.from.size(), edit.to);
  }
  const auto recipe = read_recipe(text);
  ASSERT_FALSE(recipe) << "accepted:\n" << text;
  EXPECT_EQ(recipe.error(), c.expected);
}

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.title; }

// The file and the x-zelk block.
const Case top_level[] = {
    {"YamlMessagePassesUnchanged",
     N,
     {{"id: notes", "id: *notes"}},
     "Line 30: a value that starts with \"*\" is not understood; put text in quotes."},
    {"EmptyFile", "# only a comment\n", {}, "The file is empty."},
    {"TopLevelIsAList",
     "- a\n- b\n",
     {},
     "The file needs settings below it, each on its own line."},
    {"TopLevelIsAText",
     "just: text\n",
     {},
     "The file has \"just\", which the Zelk does not run. It runs: name, services, volumes, "
     "networks, x-zelk, x-podman."},
    {"UnknownTopLevelKey",
     N,
     {{"x-zelk:\n", "version: \"3\"\nx-zelk:\n"}},
     "The file has \"version\", which the Zelk does not run. It runs: name, services, volumes, "
     "networks, x-zelk, x-podman."},
    {"NoXZelk",
     N,
     {{"x-zelk:", "x-podman:"}},
     "The file has no \"x-zelk\" block. It tells the Zelk the app's name, its port and how to "
     "see that it is ready."},
    {"XZelkIsAText",
     "services: none\nx-zelk: yes\n",
     {},
     "x-zelk needs settings below it, each on its own line."},
    {"XZelkIsAList",
     "x-zelk:\n- format: 1\n",
     {},
     "Line 2: a list entry here is one text; put it in quotes if it contains \": \"."},
    {"UnknownXZelkKey",
     N,
     {{"  format: 1\n", "  format: 1\n  colour: red\n"}},
     "x-zelk has \"colour\", which the Zelk does not run. It runs: format, id, name, category, "
     "summary, port, ready, open, fallback-image, secrets, lesson, disk-mb, starts-used."},
    {"NoFormat", N, {{"  format: 1\n", ""}}, "x-zelk has no \"format\"."},
    {"EmptyFormat", N, {{"format: 1", "format:"}}, "x-zelk: \"format\" needs a value on its line."},
    {"FormatIsAList",
     N,
     {{"  format: 1\n", "  format:\n    - 1\n"}},
     "x-zelk: \"format\" needs a value on its line."},
    {"FormatThree",
     N,
     {{"format: 1", "format: 3"}},
     "x-zelk: this Zelk reads formats 1 and 2; the file says format 3."},
    {"FormatThreeBeforeEverythingElse",
     "services: none\nx-zelk:\n  port: 1\n  format: 3\n",
     {},
     "x-zelk: this Zelk reads formats 1 and 2; the file says format 3."},
    // What the author wrote is quoted as text: it cannot redraw the console line or read backwards.
    {"FormatThatRedrawsTheLine",
     N,
     {{"format: 1", "format: \"\x1b[2K\rzelk add https://x\""}},
     "x-zelk: this Zelk reads formats 1 and 2; the file says format \\x1b[2K\\rzelk add https://x."},
    {"NameReadBackwards",
     N,
     {{"  name: Notes\n", "  name: Notes \xe2\x80\xae" "setoN\n"}},
     "x-zelk: \"name\" is one line of plain text."},
    {"FormatWithPlus",
     N,
     {{"format: 1", "format: +1"}},
     "x-zelk: this Zelk reads formats 1 and 2; the file says format +1."},
    {"NoId", N, {{"  id: notes\n", ""}}, "x-zelk has no \"id\"."},
    {"IdOfOneLetter",
     N,
     {{"id: notes", "id: n"}},
     "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter."},
    {"IdOf33",
     N,
     {{"id: notes", "id: abcdefghijklmnopqrstuvwxyzabcdefg"}},
     "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter."},
    {"IdStartingWithADigit",
     N,
     {{"id: notes", "id: 1notes"}},
     "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter."},
    {"IdWithACapital",
     N,
     {{"id: notes", "id: Notes"}},
     "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter."},
    {"IdWithUnderscore",
     N,
     {{"id: notes", "id: my_notes"}},
     "x-zelk: \"id\" is 2 to 32 small letters, digits and \"-\", starting with a letter."},
    {"NoPort", N, {{"  port: 34567\n", ""}}, "x-zelk has no \"port\"."},
    {"EmptyPort", N, {{"port: 34567", "port: ''"}}, "x-zelk: \"port\" needs a value on its line."},
    {"Port1023",
     N,
     {{"port: 34567", "port: 1023"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"Port65536",
     N,
     {{"port: 34567", "port: 65536"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"PortHuge",
     N,
     {{"port: 34567", "port: 99999999999999999999999"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"PortNegative",
     N,
     {{"port: 34567", "port: -2000"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"PortTwoPluses",
     N,
     {{"port: 34567", "port: ++2000"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"PortNotANumber",
     N,
     {{"port: 34567", "port: 8080.0"}},
     "x-zelk: \"port\" is the port on this computer, a number from 1024 to 65535."},
    {"SecretsIsAText",
     N,
     {{"  secrets:\n    NOTES_KEY: 32\n", "  secrets: NOTES_KEY\n"}},
     "x-zelk: \"secrets\" needs settings below it, each on its own line."},
    {"SecretOf15",
     N,
     {{"NOTES_KEY: 32", "NOTES_KEY: 15"}},
     "x-zelk: the secret NOTES_KEY needs its length in bytes, 16 to 64."},
    {"SecretOf65",
     N,
     {{"NOTES_KEY: 32", "NOTES_KEY: 65"}},
     "x-zelk: the secret NOTES_KEY needs its length in bytes, 16 to 64."},
    {"SecretWithoutLength",
     N,
     {{"NOTES_KEY: 32", "NOTES_KEY:"}},
     "x-zelk: the secret NOTES_KEY needs its length in bytes, 16 to 64."},
    {"SecretLengthAsWords",
     N,
     {{"NOTES_KEY: 32", "NOTES_KEY: thirty-two"}},
     "x-zelk: the secret NOTES_KEY needs its length in bytes, 16 to 64."},
    {"SecretNamedTorvoPort",
     N,
     {{"    NOTES_KEY: 32\n", "    NOTES_KEY: 32\n    TORVO_PORT: 20\n"}},
     "x-zelk: \"TORVO_PORT\" cannot be the name of a secret."},
    {"SecretStartingWithADigit",
     N,
     {{"    NOTES_KEY: 32\n", "    1KEY: 20\n    NOTES_KEY: 32\n"}},
     "x-zelk: \"1KEY\" cannot be the name of a secret."},
    {"SecretWithADash",
     N,
     {{"    NOTES_KEY: 32\n", "    NOTES_KEY: 32\n    A-B: 20\n"}},
     "x-zelk: \"A-B\" cannot be the name of a secret."},
    {"SecretLengthCheckedBeforeItsName",
     N,
     {{"    NOTES_KEY: 32\n", "    1KEY: 5\n    NOTES_KEY: 32\n"}},
     "x-zelk: the secret 1KEY needs its length in bytes, 16 to 64."},
    {"TopLevelNameOfAnotherApp",
     N,
     {{"name: torvo-notes\nservices", "name: notes\nservices"}},
     "\"name\" is \"torvo-notes\" for the app \"notes\", or left out."},
    {"TopLevelNameIsAMapping",
     N,
     {{"name: torvo-notes\nservices", "name:\n  a: b\nservices"}},
     "\"name\" is \"torvo-notes\" for the app \"notes\", or left out."},
    {"StartsUsedWithoutAnotherAppsNetwork",
     N,
     {{"    networks:\n      - models\n", ""},
      {"networks:\n  models:\n    name: torvo-ollama\n    external: true\n", ""},
      {"starts-used: false", "starts-used: maybe"}},
     "x-zelk: \"starts-used\" is for an app that joins the network of another app."},
    {"StartsUsedNeitherTrueNorFalse",
     N,
     {{"starts-used: false", "starts-used: no"}},
     "x-zelk: \"starts-used\" is \"true\" or \"false\"."},
    {"StartsUsedEmpty",
     N,
     {{"starts-used: false", "starts-used: \"\""}},
     "x-zelk: \"starts-used\" is \"true\" or \"false\"."},
    {"SecretNoValueRefersTo",
     N,
     {{"      NOTES_KEY: ${NOTES_KEY}\n", ""}},
     "x-zelk lists the secret NOTES_KEY, but no line under \"environment\" uses it as "
     "${NOTES_KEY}."},
    {"SecretOnlyInTextIsUnused",
     N,
     {{"NOTES_KEY: ${NOTES_KEY}", "NOTES_KEY: $${NOTES_KEY}"}},
     "x-zelk lists the secret NOTES_KEY, but no line under \"environment\" uses it as "
     "${NOTES_KEY}."},
    {"NoName", N, {{"  name: Notes\n", ""}}, "x-zelk has no \"name\"."},
    {"NameIsAMapping",
     N,
     {{"  name: Notes\n", "  name:\n    en: Notes\n"}},
     "x-zelk: \"name\" needs a value on its line."},
    {"NameWithATab",
     N,
     {{"name: Notes", "name: \"No\\ttes\""}},
     "x-zelk: \"name\" is one line of plain text."},
    {"NameWithNextLineCharacter",
     N,
     {{"name: Notes", "name: No\xC2\x85tes"}},
     "x-zelk: \"name\" is one line of plain text."},
    {"NameWithDelete",
     N,
     {{"name: Notes", "name: No\x7Ftes"}},
     "x-zelk: \"name\" is one line of plain text."},
    {"NameOf41",
     N,
     {{"name: Notes", "name: 12345678901234567890123456789012345678901"}},
     "x-zelk: \"name\" is longer than 40 characters."},
    {"NoCategory", N, {{"  category: Writing\n", ""}}, "x-zelk has no \"category\"."},
    {"CategoryOf31",
     N,
     {{"category: Writing", "category: 1234567890123456789012345678901"}},
     "x-zelk: \"category\" is longer than 30 characters."},
    {"CategoryWithALineFeed",
     N,
     {{"category: Writing", "category: \"Wri\\nting\""}},
     "x-zelk: \"category\" is one line of plain text."},
    {"NoSummary",
     N,
     {{"  summary: Keep notes in your browser.\n", ""}},
     "x-zelk has no \"summary\"."},
    {"SummaryWithAControlCharacter",
     N,
     {{"in your browser", "in your\x01 browser"}},
     "x-zelk: \"summary\" is one line of plain text."},
    {"NoReady", N, {{"  ready: /health\n", ""}}, "x-zelk has no \"ready\"."},
    {"ReadyWithoutItsSlash",
     N,
     {{"ready: /health", "ready: health"}},
     "x-zelk: \"ready\" is a path on the app's own address, for example \"/\" or \"/health\"."},
    {"ReadyWithASpace",
     N,
     {{"ready: /health", "ready: /he alth"}},
     "x-zelk: \"ready\" is a path on the app's own address, for example \"/\" or \"/health\"."},
    {"ReadyWithNoBreakSpace",
     N,
     {{"ready: /health",
       "ready: /he\xC2\xA0"
       "alth"}},
     "x-zelk: \"ready\" is a path on the app's own address, for example \"/\" or \"/health\"."},
    {"OpenWithoutItsSlash",
     N,
     {{"ready: /health", "ready: /health\n  open: start"}},
     "x-zelk: \"open\" is a path on the app's own address, for example \"/\" or \"/health\"."},
    {"OpenEmpty",
     N,
     {{"ready: /health", "ready: /health\n  open:"}},
     "x-zelk: \"open\" needs a value on its line."},
    {"OpenWithATab",
     N,
     {{"ready: /health", "ready: /health\n  open: \"/a\\tb\""}},
     "x-zelk: \"open\" is a path on the app's own address, for example \"/\" or \"/health\"."},
    {"LessonOverPlainHttp",
     N,
     {{"https://example.org/notes", "http://example.org/notes"}},
     "x-zelk: \"lesson\" is a web address that starts with https://."},
    {"LessonWithASpace",
     N,
     {{"https://example.org/notes", "https://example.org/my notes"}},
     "x-zelk: \"lesson\" is a web address that starts with https://."},
    {"LessonEmpty",
     N,
     {{"lesson: https://example.org/notes", "lesson:"}},
     "x-zelk: \"lesson\" is a web address that starts with https://."},
    {"DiskZero",
     N,
     {{"disk-mb: 300", "disk-mb: 0"}},
     "x-zelk: \"disk-mb\" is what the app takes on disk once downloaded, in MB, for example "
     "1200."},
    {"DiskOver200000",
     N,
     {{"disk-mb: 300", "disk-mb: 200001"}},
     "x-zelk: \"disk-mb\" is what the app takes on disk once downloaded, in MB, for example "
     "1200."},
    {"DiskInGigabytes",
     N,
     {{"disk-mb: 300", "disk-mb: 1.2GB"}},
     "x-zelk: \"disk-mb\" is what the app takes on disk once downloaded, in MB, for example "
     "1200."},
    {"DiskEmpty",
     N,
     {{"disk-mb: 300", "disk-mb:"}},
     "x-zelk: \"disk-mb\" is what the app takes on disk once downloaded, in MB, for example "
     "1200."},
};
INSTANTIATE_TEST_SUITE_P(TopLevel, RecipeMessages, testing::ValuesIn(top_level), case_name);

constexpr std::string_view small_head = "x-zelk:\n  format: 2\n  id: notes\n  port: 34567\n";

// Services, their count and which one is the app; each service's keys.
const Case services[] = {
    {"NoServices", small_head, {}, "The file has no \"services\"."},
    {"ServicesIsAText",
     "services: many\nx-zelk:\n  format: 1\n  id: notes\n  port: 34567\n",
     {},
     "\"services\" needs settings below it, each on its own line."},
    {"FormatOneWithHelpers",
     W,
     {{"format: 2", "format: 1"}},
     "An app of format 1 is one container: \"services\" has 4 entries. An app with helpers is "
     "format 2: write \"format: 2\" in x-zelk."},
    {"NineServices",
     W,
     {{"volumes:\n  files:",
       "  h1:\n    image: a:1\n  h2:\n    image: a:1\n  h3:\n    image: a:1\n"
       "  h4:\n    image: a:1\n  h5:\n    image: a:1\nvolumes:\n  files:"}},
     "\"services\" has 9 entries. An app is at most 8 containers."},
    {"NineServicesInFormatOne",
     W,
     {{"volumes:\n  files:",
       "  h1:\n    image: a:1\n  h2:\n    image: a:1\n  h3:\n    image: a:1\n"
       "  h4:\n    image: a:1\n  h5:\n    image: a:1\nvolumes:\n  files:"},
      {"format: 2", "format: 1"}},
     "An app of format 1 is one container: \"services\" has 9 entries. An app with helpers is "
     "format 2: write \"format: 2\" in x-zelk."},
    {"NoServiceHasPorts",
     W,
     {{"    ports:\n      - 127.0.0.1:${TORVO_PORT}:3000\n", ""}},
     "One service is the app itself: the one with the entry under \"ports\". No service has "
     "one."},
    {"TwoServicesHavePorts",
     W,
     {{"    image: docker.io/library/redis:7.4\n",
       "    image: docker.io/library/redis:7.4\n    ports:\n      - 127.0.0.1:6379:6379\n"}},
     "Only the app itself has \"ports\"; here 2 services have. A helper is reached by the app, "
     "not from this computer."},
    {"ServiceWithPortsNamedOtherwise",
     W,
     {{"  wiki:\n", "  site:\n"}},
     "The service with the port is the app itself: name it \"wiki\" (it is named \"site\"). Its "
     "helpers find it under that name."},
    {"VolumesIsAText",
     N,
     {{"volumes:\n  data:\n    name: torvo-notes-data\n", "volumes: data\n"}},
     "\"volumes\" needs settings below it, each on its own line."},
    {"HelperWithACapital",
     W,
     {{"  cache:\n", "  Cache:\n"}},
     "The helper \"Cache\" needs a name of 1 to 20 small letters, digits and \"-\", starting "
     "with a letter."},
    {"HelperOf21",
     W,
     {{"  cache:\n", "  cache-cache-cache-cac:\n"}},
     "The helper \"cache-cache-cache-cac\" needs a name of 1 to 20 small letters, digits and "
     "\"-\", starting with a letter."},
    {"HelperStartingWithADigit",
     W,
     {{"  cache:\n", "  2cache:\n"}},
     "The helper \"2cache\" needs a name of 1 to 20 small letters, digits and \"-\", starting "
     "with a letter."},
    {"HelperWithUnderscore",
     W,
     {{"  cache:\n", "  my_cache:\n"}},
     "The helper \"my_cache\" needs a name of 1 to 20 small letters, digits and \"-\", starting "
     "with a letter."},
    {"ServiceIsAText",
     W,
     {{"  cache:\n    image: docker.io/library/redis:7.4\n    command:\n      - redis-server\n"
       "    depends_on:\n      - indexer\n",
       "  cache: redis\n"}},
     "The service \"cache\" needs settings below it, each on its own line."},
    {"CommandInFormatOne",
     N,
     {{"    restart: unless-stopped\n",
       "    restart: unless-stopped\n    command:\n      - notes\n"}},
     "The service \"notes\" has \"command\", which belongs to format 2. Write \"format: 2\" in "
     "x-zelk."},
    {"DependsOnInFormatOne",
     N,
     {{"    restart: unless-stopped\n",
       "    restart: unless-stopped\n    depends_on:\n      - x\n"}},
     "The service \"notes\" has \"depends_on\", which belongs to format 2. Write \"format: 2\" "
     "in x-zelk."},
    {"UnknownServiceKeyInFormatOne",
     N,
     {{"    restart: unless-stopped\n", "    user: root\n    restart: unless-stopped\n"}},
     "The service \"notes\" has \"user\", which the Zelk does not run. It runs: image, "
     "container_name, restart, environment, ports, volumes, networks."},
    {"UnknownServiceKeyInFormatTwo",
     W,
     {{"      PGDATA: /var/lib/postgresql/data/pg\n",
       "      PGDATA: /var/lib/postgresql/data/pg\n"
       "    healthcheck: pg_isready\n"}},
     "The service \"db\" has \"healthcheck\", which the Zelk does not run. It runs: image, "
     "container_name, restart, command, depends_on, environment, ports, volumes, networks."},
    {"NoImage",
     N,
     {{"    image: docker.io/example/notes:1.4.2\n", ""}},
     "The service \"notes\" has no \"image\"."},
    {"EmptyImage",
     N,
     {{"image: docker.io/example/notes:1.4.2", "image:"}},
     "The service \"notes\": \"image\" needs a value on its line."},
    {"ImageWithASpace",
     N,
     {{"notes:1.4.2", "notes 1.4.2"}},
     "\"image\" is the image's address, without spaces."},
    {"ImageStartingWithADash",
     N,
     {{"docker.io/example/notes:1.4.2", "-docker.io/notes:1.4.2"}},
     "\"image\" is the image's address, without spaces."},
    {"ImageWithAControlCharacter",
     N,
     {{"image: docker.io/example/notes:1.4.2", "image: \"docker.io/example/notes:1.4.2\\t\""}},
     "\"image\" is the image's address, without spaces."},
    {"ImageLatest",
     N,
     {{"notes:1.4.2", "notes:latest"}},
     "\"image\" names no fixed version. Write the version after a colon, for example "
     "\"docker.io/example/notes:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"ImageWithoutTag",
     N,
     {{"notes:1.4.2", "notes"}},
     "\"image\" names no fixed version. Write the version after a colon, for example "
     "\"docker.io/example/notes:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"ImageWithEmptyTag",
     N,
     {{"notes:1.4.2", "notes:"}},
     "\"image\" names no fixed version. Write the version after a colon, for example "
     "\"docker.io/example/notes:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"ImageRegistryPortIsNoTag",
     N,
     {{"docker.io/example/notes:1.4.2", "localhost:5000/notes"}},
     "\"image\" names no fixed version. Write the version after a colon, for example "
     "\"localhost:5000/notes:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"HelperImageLatest",
     W,
     {{"redis:7.4", "redis:latest"}},
     "\"image\" names no fixed version. Write the version after a colon, for example "
     "\"docker.io/library/redis:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"AppContainerNameOfItsOwn",
     N,
     {{"container_name: torvo-notes", "container_name: notes"}},
     "\"container_name\" is \"torvo-notes\" for the app \"notes\", or left out."},
    {"HelperContainerNameOfItsOwn",
     W,
     {{"      PGDATA: /var/lib/postgresql/data/pg\n",
       "      PGDATA: /var/lib/postgresql/data/pg\n"
       "    container_name: wiki-db\n"}},
     "The service \"db\": \"container_name\" is \"torvo-wiki-db\" for this helper of the app "
     "\"wiki\", or left out."},
    {"RestartAlways",
     N,
     {{"restart: unless-stopped", "restart: always"}},
     "\"restart\" is \"unless-stopped\" or left out: the Zelk brings apps back itself."},
    {"CommandWithADollar",
     W,
     {{"      - --serve\n", "      - --port=$PORT\n"}},
     "The service \"wiki\": \"command\" is fixed text, one word per line. A value the user may "
     "change reaches the program under \"environment\"."},
    {"CommandWithALineFeed",
     W,
     {{"      - --serve\n", "      - \"--serve\\n\"\n"}},
     "The service \"wiki\": \"command\" is fixed text, one word per line. A value the user may "
     "change reaches the program under \"environment\"."},
    {"CommandIsAText",
     W,
     {{"    command:\n      - redis-server\n", "    command: redis-server\n"}},
     "The service \"cache\": \"command\" is a list, one entry per line after \"- \"."},
    {"CommandEntryEmpty",
     W,
     {{"      - redis-server\n", "      - redis-server\n      -\n"}},
     "The service \"cache\": every entry of \"command\" is one text."},
    {"DependsOnIsAText",
     W,
     {{"    depends_on:\n      - db\n", "    depends_on: db\n"}},
     "The service \"wiki\": \"depends_on\" is a list, one entry per line after \"- \"."},
    {"DependsOnEntryIsAList",
     W,
     {{"      - db\n", "      -\n        - db\n"}},
     "The service \"wiki\": every entry of \"depends_on\" is one text."},
};
INSTANTIATE_TEST_SUITE_P(Services, RecipeMessages, testing::ValuesIn(services), case_name);

constexpr std::string_view named_volume_tail =
    ": an app keeps its data in a named volume, written \"<name>:/path/inside\" with the name "
    "declared under \"volumes\" at the end of the file. Folders of this computer are not "
    "handed to an app.";

struct NamedVolumeCase {
  const char* title;
  std::string_view from;
  std::string_view to;
  std::string_view entry;  ///< the entry the message quotes
};

void PrintTo(const NamedVolumeCase& c, std::ostream* out) { *out << c.title; }

class NamedVolumeMessages : public testing::TestWithParam<NamedVolumeCase> {};

TEST_P(NamedVolumeMessages, QuoteTheEntry) {
  const NamedVolumeCase& c = GetParam();
  std::string text(N);
  const std::size_t at = text.find(c.from);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, c.from.size(), c.to);
  const auto recipe = read_recipe(text);
  ASSERT_FALSE(recipe);
  EXPECT_EQ(recipe.error(), "\"" + std::string(c.entry) + "\"" + std::string(named_volume_tail));
}

const NamedVolumeCase named_volumes[] = {
    {"WithoutColon", "data:/var/lib/notes", "data", "data"},
    {"FromARelativeFolder", "data:/var/lib/notes", "./notes:/var/lib/notes",
     "./notes:/var/lib/notes"},
    {"FromAnAbsoluteFolder", "data:/var/lib/notes", "/srv/notes:/var/lib/notes",
     "/srv/notes:/var/lib/notes"},
    {"FromAWindowsFolder", "data:/var/lib/notes", "'C:\\notes:/var/lib/notes'",
     "C:\\notes:/var/lib/notes"},
    {"NotDeclared", "data:/var/lib/notes", "other:/var/lib/notes", "other:/var/lib/notes"},
    {"EmptyKey", "data:/var/lib/notes", "\":/var/lib/notes\"", ":/var/lib/notes"},
    {"PathWithoutSlash", "data:/var/lib/notes", "data:var/lib/notes", "data:var/lib/notes"},
    {"PathWithAnotherColon", "data:/var/lib/notes", "data:/var/lib/notes:ro",
     "data:/var/lib/notes:ro"},
    {"PathWithParentSegment", "data:/var/lib/notes", "data:/var/../etc", "data:/var/../etc"},
    {"PathEndingInParent", "data:/var/lib/notes", "data:/var/..", "data:/var/.."},
    {"PathOfParentAlone", "data:/var/lib/notes", "data:/..", "data:/.."},
    {"EntryReadBackwards", "data:/var/lib/notes", "data\xe2\x80\xae:/var/lib/notes", "data\\u202e:/var/lib/notes"},
    {"WithoutAnyDeclared", "volumes:\n  data:\n    name: torvo-notes-data\n", "",
     "data:/var/lib/notes"},
};
INSTANTIATE_TEST_SUITE_P(Volumes, NamedVolumeMessages, testing::ValuesIn(named_volumes),
                         [](const testing::TestParamInfo<NamedVolumeCase>& info) {
                           return std::string(info.param.title);
                         });

// Volumes and the app's port.
const Case volumes[] = {
    {"VolumesIsAText",
     N,
     {{"    volumes:\n      - data:/var/lib/notes\n", "    volumes: data:/x\n"}},
     "The service \"notes\": \"volumes\" is a list, one entry per line after \"- \"."},
    {"VolumeEntryIsAMapping",
     N,
     {{"      - data:/var/lib/notes\n", "      -\n        data: /x\n"}},
     "The service \"notes\": every entry of \"volumes\" is one text."},
    {"VolumeEntryEmpty",
     N,
     {{"      - data:/var/lib/notes\n", "      - ''\n"}},
     "The service \"notes\": every entry of \"volumes\" is one text."},
    {"VolumeDeclarationIsAText",
     N,
     {{"  data:\n    name: torvo-notes-data\n", "  data: torvo-notes-data\n"}},
     "The volume \"data\" needs settings below it, each on its own line."},
    {"VolumeDeclarationWithDriver",
     N,
     {{"    name: torvo-notes-data\n", "    name: torvo-notes-data\n    driver: local\n"}},
     "The volume \"data\" has \"driver\", which the Zelk does not run. It runs: name."},
    {"VolumeDeclarationWithEmptyName",
     N,
     {{"name: torvo-notes-data", "name:"}},
     "The volume \"data\": \"name\" needs a value on its line."},
    {"VolumeNamedOnlyThePrefix",
     N,
     {{"name: torvo-notes-data", "name: torvo-notes-"}},
     "The volume \"data\" needs a fixed name that starts with \"torvo-notes-\", for example:\n"
     "  data:\n    name: torvo-notes-data"},
    {"VolumeNamedForAnotherApp",
     N,
     {{"name: torvo-notes-data", "name: torvo-other-data"}},
     "The volume \"data\" needs a fixed name that starts with \"torvo-notes-\", for example:\n"
     "  data:\n    name: torvo-notes-data"},
    {"VolumeNameWithACapital",
     N,
     {{"name: torvo-notes-data", "name: torvo-notes-Data"}},
     "The volume \"data\" needs a fixed name that starts with \"torvo-notes-\", for example:\n"
     "  data:\n    name: torvo-notes-data"},
    {"TwoVolumesAtOnePath",
     N,
     {{"      - data:/var/lib/notes\n",
       "      - data:/var/lib/notes\n      - data:/var/lib/notes\n"}},
     "Two volumes are mounted at /var/lib/notes."},
    {"VolumeDeclaredButUnusedByTheOneService",
     N,
     {{"    name: torvo-notes-data\n",
       "    name: torvo-notes-data\n  spare:\n    name: torvo-notes-spare\n"}},
     "The volume \"spare\" is declared but the service does not use it."},
    {"VolumeDeclaredButUnusedByAnyService",
     W,
     {{"    name: torvo-wiki-db\n",
       "    name: torvo-wiki-db\n  spare:\n    name: torvo-wiki-spare\n"}},
     "The volume \"spare\" is declared but no service uses it."},
    {"UnusedVolumeOfAnyContent",
     N,
     {{"    name: torvo-notes-data\n", "    name: torvo-notes-data\n  spare: x\n"}},
     "The volume \"spare\" is declared but the service does not use it."},
    {"FallbackImageEmpty",
     W,
     {{"fallback-image: docker.io/example/wiki:2.0.1", "fallback-image: \"\""}},
     "x-zelk: \"fallback-image\" needs a value on its line."},
    {"FallbackImageLatest",
     W,
     {{"fallback-image: docker.io/example/wiki:2.0.1",
       "fallback-image: docker.io/example/wiki:latest"}},
     "\"fallback-image\" names no fixed version. Write the version after a colon, for example "
     "\"docker.io/example/wiki:1.2.3\"; \"latest\" changes under an app and is not taken."},
    {"FallbackImageWithASpace",
     W,
     {{"fallback-image: docker.io/example/wiki:2.0.1",
       "fallback-image: docker.io/example/wiki :2.0.1"}},
     "\"fallback-image\" is the image's address, without spaces."},
};
INSTANTIATE_TEST_SUITE_P(Volumes, RecipeMessages, testing::ValuesIn(volumes), case_name);

constexpr std::string_view ports_message =
    "An app is reachable from this computer only. Write exactly one entry under \"ports\": "
    "\"127.0.0.1:${TORVO_PORT}:<the port inside the container>\".";

const Case ports[] = {
    {"NoPorts", N, {{"    ports:\n      - \"127.0.0.1:${TORVO_PORT}:8080\"\n", ""}}, ports_message},
    {"PortsIsAText",
     N,
     {{"    ports:\n      - \"127.0.0.1:${TORVO_PORT}:8080\"\n",
       "    ports: \"127.0.0.1:${TORVO_PORT}:8080\"\n"}},
     ports_message},
    {"TwoPorts",
     N,
     {{"      - \"127.0.0.1:${TORVO_PORT}:8080\"\n",
       "      - \"127.0.0.1:${TORVO_PORT}:8080\"\n      - \"127.0.0.1:${TORVO_PORT}:8081\"\n"}},
     ports_message},
    {"PortOnEveryAddress",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "0.0.0.0:${TORVO_PORT}:8080"}},
     ports_message},
    {"PortWithoutAddress",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "${TORVO_PORT}:8080"}},
     ports_message},
    {"PortWrittenAsANumber",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:34567:8080"}},
     ports_message},
    {"PortWithADefault",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT:-1}:8080"}},
     ports_message},
    {"InnerPortZero",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT}:0"}},
     ports_message},
    {"InnerPort65536",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT}:65536"}},
     ports_message},
    {"InnerPortMissing",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT}:"}},
     ports_message},
    {"InnerPortWithProtocol",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT}:8080/tcp"}},
     ports_message},
    {"InnerPortWithAColon",
     N,
     {{"127.0.0.1:${TORVO_PORT}:8080", "127.0.0.1:${TORVO_PORT}:80:80"}},
     ports_message},
};
INSTANTIATE_TEST_SUITE_P(Ports, RecipeMessages, testing::ValuesIn(ports), case_name);

// Networks and the order of the services.
const Case networks[] = {
    {"HelperListsNetworks",
     W,
     {{"      PGDATA: /var/lib/postgresql/data/pg\n",
       "      PGDATA: /var/lib/postgresql/data/pg\n    networks:\n      - own\n"}},
     "The service \"db\" lists \"networks\". Only the app itself joins networks; an app and its "
     "helpers find each other under their service names without one."},
    {"NetworksIsAText",
     N,
     {{"networks:\n  models:\n    name: torvo-ollama\n    external: true\n", "networks: models\n"}},
     "\"networks\" needs settings below it, each on its own line."},
    {"ServiceNetworksIsAText",
     N,
     {{"    networks:\n      - models\n", "    networks: models\n"}},
     "The service \"notes\": \"networks\" is a list, one entry per line after \"- \"."},
    {"ServiceNetworkEntryIsAMapping",
     N,
     {{"      - models\n", "      -\n        models: x\n"}},
     "The service \"notes\": every entry of \"networks\" is one text."},
    {"NetworkDeclarationIsAText",
     N,
     {{"  models:\n    name: torvo-ollama\n    external: true\n", "  models: torvo-ollama\n"}},
     "The network \"models\" needs settings below it, each on its own line."},
    {"NetworkDeclarationWithDriver",
     N,
     {{"    external: true\n", "    external: true\n    driver: bridge\n"}},
     "The network \"models\" has \"driver\", which the Zelk does not run. It runs: name, "
     "external."},
    {"NetworkWithoutName",
     N,
     {{"    name: torvo-ollama\n", ""}},
     "The network \"models\" has no \"name\"."},
    {"NetworkExternalYes",
     N,
     {{"external: true", "external: yes"}},
     "The network \"models\": \"external\" is \"true\" or left out."},
    {"NetworkExternalFalse",
     N,
     {{"external: true", "external: false"}},
     "The network \"models\": \"external\" is \"true\" or left out."},
    {"NetworkNotListed",
     N,
     {{"    networks:\n      - models\n", ""}},
     "The network \"models\" is declared; the service lists it once under its own \"networks\", "
     "or it goes."},
    {"NetworkListedTwice",
     N,
     {{"      - models\n", "      - models\n      - models\n"}},
     "The network \"models\" is declared; the service lists it once under its own \"networks\", "
     "or it goes."},
    {"ExternalNetworkWithoutPrefix",
     N,
     {{"name: torvo-ollama", "name: ollama"}},
     "The network \"models\" is marked \"external\", so it is the network of another app: its "
     "name is \"torvo-<that app's id>\"."},
    {"ExternalNetworkOfThisApp",
     N,
     {{"name: torvo-ollama", "name: torvo-notes"}},
     "The network \"models\" is marked \"external\", so it is the network of another app: its "
     "name is \"torvo-<that app's id>\"."},
    {"ExternalNetworkWithABadId",
     N,
     {{"name: torvo-ollama", "name: torvo-Ollama"}},
     "The network \"models\" is marked \"external\", so it is the network of another app: its "
     "name is \"torvo-<that app's id>\"."},
    {"TwoNetworksOfOneOtherApp",
     N,
     {{"      - models\n", "      - models\n      - again\n"},
      {"    external: true\n",
       "    external: true\n  again:\n    name: torvo-ollama\n    external: true\n"}},
     "Two networks are named \"torvo-ollama\"."},
    {"OwnNetworkNamedOtherwise",
     W,
     {{"    name: torvo-wiki\n", "    name: wiki-net\n"}},
     "The network \"own\" is this app's own network, so its name is \"torvo-wiki\". The network "
     "of another app is marked \"external: true\"."},
    {"TwoOwnNetworks",
     W,
     {{"      - own\n", "      - own\n      - own2\n"},
      {"    name: torvo-wiki\n", "    name: torvo-wiki\n  own2:\n    name: torvo-wiki\n"}},
     "Two networks are named \"torvo-wiki\"."},
    {"ListedNetworkNotDeclared",
     N,
     {{"      - models\n", "      - models\n      - extra\n"}},
     "The service lists the network \"extra\", which is not declared. Declare it under "
     "\"networks\" at the end of the file: with \"name: torvo-notes\" for this app's own network, "
     "or with \"name: torvo-<id>\" and \"external: true\" for the network of another app."},
    {"ListedNetworkWithoutAnyDeclared",
     W,
     {{"networks:\n  own:\n    name: torvo-wiki\n", ""}},
     "The service lists the network \"own\", which is not declared. Declare it under "
     "\"networks\" at the end of the file: with \"name: torvo-wiki\" for this app's own network, "
     "or with \"name: torvo-<id>\" and \"external: true\" for the network of another app."},
    {"DependsOnUnknownService",
     W,
     {{"      - indexer\n", "      - nobody\n"}},
     "The service \"cache\": \"depends_on\" lists \"nobody\", which is not another service of "
     "this file."},
    {"DependsOnItself",
     W,
     {{"      - indexer\n", "      - cache\n"}},
     "The service \"cache\": \"depends_on\" lists \"cache\", which is not another service of "
     "this file."},
    {"HelpersDependOnEachOther",
     W,
     {{"    depends_on:\n      - wiki\n", "    depends_on:\n      - wiki\n      - cache\n"}},
     "The services depend on each other in a circle under \"depends_on\"."},
    {"DependsInACircle",
     W,
     {{"      PGDATA: /var/lib/postgresql/data/pg\n",
       "      PGDATA: /var/lib/postgresql/data/pg\n    depends_on:\n      - cache\n"}},
     "The services depend on each other in a circle under \"depends_on\"."},
};

INSTANTIATE_TEST_SUITE_P(Networks, RecipeMessages, testing::ValuesIn(networks), case_name);

// Environment values.
const Case environment[] = {
    {"EnvironmentIsAList",
     W,
     {{"      POSTGRES_PASSWORD: ${DB_PASSWORD}\n      POSTGRES_DB: ${WIKI_DB:-other}\n"
       "      PGDATA: /var/lib/postgresql/data/pg\n",
       "      - POSTGRES_PASSWORD=${DB_PASSWORD}\n"}},
     "\"environment\" needs settings below it, each on its own line."},
    {"EnvironmentNameWithADot",
     N,
     {{"      NOTES_PORT", "      notes.port: x\n      NOTES_PORT"}},
     "\"notes.port\" cannot be the name of an environment setting."},
    {"EnvironmentNameStartingWithADigit",
     N,
     {{"      NOTES_PORT", "      1X: x\n      NOTES_PORT"}},
     "\"1X\" cannot be the name of an environment setting."},
    {"EnvironmentValueIsAMapping",
     N,
     {{"      NOTES_EMPTY:\n", "      NOTES_EMPTY:\n        deep: 1\n"}},
     "NOTES_EMPTY needs its value on its line."},
    {"EnvironmentValueIsAList",
     N,
     {{"      NOTES_EMPTY:\n", "      NOTES_EMPTY:\n        - 1\n"}},
     "NOTES_EMPTY needs its value on its line."},
    {"PlainDollarBeforeALetter",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: a$b"}},
     "\"a$b\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\"."},
    {"PlainDollarAtTheEnd",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: costs 5$"}},
     "\"costs 5$\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\"."},
    {"ValueThatRedrawsTheLine",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: \"\x1b[2K\rzelk add $x\""}},
     "\"\\x1b[2K\\rzelk add $x\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\"."},
    {"ThreeDollars",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: a$$$"}},
     "\"a$$$\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\"."},
    {"ReferenceNotClosed",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: ${NOTES_ZONE"}},
     "\"${NOTES_ZONE\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\"."},
    {"ReferenceToABadName",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: x${1ZONE:-a}"}},
     "\"x${1ZONE:-a}\": \"1ZONE\" is not a name that can be referred to."},
    {"ReferenceToNoName",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: ${}"}},
     "\"${}\": \"\" is not a name that can be referred to."},
    {"ReferenceWithSpaces",
     N,
     {{"NOTES_PRICE: a$$b", "NOTES_PRICE: ${ NOTES_ZONE }"}},
     "\"${ NOTES_ZONE }\": \" NOTES_ZONE \" is not a name that can be referred to."},
    {"TwoReferencesInFormatOne",
     N,
     {{"NOTES_URL: http://localhost:${TORVO_PORT}/",
       "NOTES_URL: http://${NOTES_HOST:-localhost}:${TORVO_PORT}/"}},
     "NOTES_URL: a value is a fixed text, a text around ${TORVO_PORT}, or one ${NAME} alone. A "
     "text with other names in it needs format 2."},
    {"SettingInsideTextInFormatOne",
     N,
     {{"${NOTES_ZONE:-Europe/Berlin}", "zone ${NOTES_ZONE:-Europe/Berlin}"}},
     "NOTES_ZONE: a value is a fixed text, a text around ${TORVO_PORT}, or one ${NAME} alone. A "
     "text with other names in it needs format 2."},
    {"TwoPortReferencesInFormatOne",
     N,
     {{"NOTES_URL: http://localhost:${TORVO_PORT}/", "NOTES_URL: ${TORVO_PORT}-${TORVO_PORT}"}},
     "NOTES_URL: a value is a fixed text, a text around ${TORVO_PORT}, or one ${NAME} alone. A "
     "text with other names in it needs format 2."},
    {"ReferenceWithoutValue",
     N,
     {{"${NOTES_ZONE:-Europe/Berlin}", "${NOTES_ZONE}"}},
     "NOTES_ZONE refers to NOTES_ZONE, which has no value. Give it one the user may change, as "
     "${NOTES_ZONE:-value}, or let the Zelk make a secret: list NOTES_ZONE under \"secrets\" in "
     "x-zelk."},
    {"ReferenceWithRequiredMark",
     N,
     {{"NOTES_ZONE: ${NOTES_ZONE:-Europe/Berlin}", "NOTES_ZONE: ${ZONE:?set it}"}},
     "NOTES_ZONE refers to ZONE, which has no value. Give it one the user may change, as "
     "${ZONE:-value}, or let the Zelk make a secret: list ZONE under \"secrets\" in x-zelk."},
    {"PartWithoutValue",
     W,
     {{"${WIKI_BASE:-/}", "${WIKI_BASE}"}},
     "WIKI_ADDRESS refers to WIKI_BASE, which has no value. Give it one the user may change, as "
     "${WIKI_BASE:-value}, or let the Zelk make a secret: list WIKI_BASE under \"secrets\" in "
     "x-zelk."},
};
INSTANTIATE_TEST_SUITE_P(Environment, RecipeMessages, testing::ValuesIn(environment), case_name);

}  // namespace
}  // namespace zelk
