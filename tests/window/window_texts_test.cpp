#include "window_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "unicode.h"
#include "utf8.h"

namespace zelk {
namespace {

struct StatusCase {
  AppState status;
  std::optional<std::string> busy;
  std::optional<std::string> word;
  std::string open;
  bool stop;
  bool forget_added;  // can_forget for a recipe that is not built in
};

TEST(WindowTexts, StatusWordOpenLabelStopAndForgetFollowTheStateAndTheBusyWord) {
  const AppState unknown = AppState::unknown();
  const AppState absent = AppState::not_installed();
  const AppState exited = AppState::state("exited");
  const AppState partly = AppState::state("partly running");
  const AppState starting = AppState::starting();
  const AppState ready = AppState::ready();
  const StatusCase cases[] = {
      {unknown, std::nullopt, std::nullopt, "Start and open", false, false},
      {absent, std::nullopt, "not installed", "Install and open", false, true},
      {exited, std::nullopt, "stopped", "Start and open", false, false},
      {AppState::state("created"), std::nullopt, "stopped", "Start and open", false, false},
      {AppState::state("Partly running"), std::nullopt, "stopped", "Start and open", false, false},
      {partly, std::nullopt, "partly running", "Start and open", true, false},
      {starting, std::nullopt, "starting ...", "Start and open", true, false},
      {ready, std::nullopt, "running", "Open", true, false},
      // A busy word wins over every state, the unknown one too.
      {ready, "stop", "stopping ...", "Open", true, false},
      {exited, "remove", "removing ...", "Start and open", false, false},
      {ready, "model", "fetching a model ...", "Open", true, false},
      {unknown, "backup", "backing up ...", "Start and open", false, false},
      {absent, "open", "starting ...", "Install and open", false, true},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.status.text + " / " + c.busy.value_or("(not busy)") + " kind " +
                 std::to_string(static_cast<int>(c.status.kind)));
    EXPECT_EQ(app_status_word(c.status, c.busy), c.word);
    EXPECT_EQ(open_label(c.status), c.open);
    EXPECT_EQ(can_stop(c.status), c.stop);
    EXPECT_EQ(can_forget(false, c.status), c.forget_added);
    // A built-in recipe is never forgotten.
    EXPECT_FALSE(can_forget(true, c.status));
  }
}

std::string repeated(std::string_view piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text.append(piece);
  return text;
}

// The one rule for shortened texts at the 90 characters of a progress line or the tray's status
// item: at most its first 90 characters and the " ..." mark, cut after a whole word when one ends late
// enough, else between two characters.
TEST(WindowTexts, FirstLineShortTakesTheFirstLineWithTextAndCutsItAtNinetyCharacters) {
  const std::string ninety = repeated("abcdefghi ", 9);  // 90 characters, a blank last
  const std::string ninety_five = repeated("0123456789", 9) + "ABCDE";
  const std::string e_acute = "\xC3\xA9";     // é, 2 bytes
  const std::string face = "\xF0\x9F\x98\x80";  // U+1F600, 4 bytes
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    const char* label;
    std::string text;
    std::string shown;
  } cases[] = {
      {"empty", "", ""},
      {"only blank lines", "\n  \n\t\r\n\r\n", ""},
      {"one line", "Podman is running", "Podman is running"},
      {"blank first lines", "\n   \n\r\n  The runtime did not answer.  \nsecond", "The runtime did not answer."},
      {"CRLF line ends", "first line\r\nsecond line\r\n", "first line"},
      {"a carriage return inside a line stays", "a\rb\nc", "a\rb"},
      {"trimmed at both ends", " \t  text with  inner  blanks \u00a0\r\n", "text with  inner  blanks"},
      {"non-breaking and ideographic spaces trimmed", "\xC2\xA0\xE3\x80\x80word\xE3\x80\x80", "word"},
      {"exactly 90 characters are kept whole", ninety.substr(0, 89) + "!", ninety.substr(0, 89) + "!"},
      {"95 characters are cut to 90", ninety_five, ninety_five.substr(0, 90) + " ..."},
      {"91 characters are cut to 90", ninety_five.substr(0, 91), ninety_five.substr(0, 90) + " ..."},
      {"a sentence ends after its last whole word", repeated("abcdefghi ", 10),
       repeated("abcdefghi ", 9).substr(0, 89) + " ..."},
      {"a word that ends where the room does is kept", std::string(90, 'x') + " " + std::string(9, 'y'),
       std::string(90, 'x') + " ..."},
      {"a blank early in the line is no place to cut", "ab " + std::string(100, 'c'),
       "ab " + std::string(87, 'c') + " ..."},
      // The latter half of the 90 characters begins with the 46th.
      {"a blank as the 46th character is a place to cut", std::string(45, 'a') + " " + std::string(60, 'b'),
       std::string(45, 'a') + " ..."},
      {"a blank as the 45th character is not", std::string(44, 'a') + " " + std::string(60, 'b'),
       std::string(44, 'a') + " " + std::string(45, 'b') + " ..."},
      {"90 two-byte characters are kept whole", repeated(e_acute, 90), repeated(e_acute, 90)},
      {"95 two-byte characters are cut to 90", repeated(e_acute, 95), repeated(e_acute, 90) + " ..."},
      {"four-byte characters count once", repeated(face, 91), repeated(face, 90) + " ..."},
      {"a cut in a mixed line keeps whole characters", repeated("a" + e_acute + face, 31),
       repeated("a" + e_acute + face, 30) + " ..."},
      {"blank over 90 characters trimmed first", "  " + ninety.substr(0, 89) + "!" + repeated(" ", 20),
       ninety.substr(0, 89) + "!"},
      {"invalid bytes read as U+FFFD", "bad \xFF\xC3 end", "bad " + replacement + replacement + " end"},
      {"invalid bytes count as characters", repeated("\x80", 95), repeated(replacement, 90) + " ..."},
      {"a sequence broken by the cut of the input", "x\xE2\x82", "x" + replacement + replacement},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string shown = first_line_short(c.text);
    EXPECT_EQ(shown, c.shown);
    EXPECT_TRUE(is_valid_utf8(shown));
  }
}

TEST(WindowTexts, FirstLineShortNeverKeepsMoreThanNinetyCharactersBeforeTheEllipsis) {
  // Every cut point of a line that mixes one- to four-byte characters and broken bytes.
  const std::string pieces[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\xE2\x82"};
  std::string line;
  for (int i = 0; i < 120; ++i) {
    line.append(pieces[i % 6]);
    const std::string shown = first_line_short(line);
    ASSERT_TRUE(is_valid_utf8(shown)) << i;
    const std::size_t characters = count_characters(shown);
    if (count_characters(line) <= 90) {
      EXPECT_EQ(characters, count_characters(line)) << i;
    } else {
      EXPECT_EQ(characters, 94u) << i;
      EXPECT_TRUE(shown.ends_with(" ...")) << i;
    }
  }
}

TEST(WindowTexts, UpdateItemShowsTheKnownUpdateAndIsOffWhileItInstalls) {
  UpdateOffer offer{"0.3.0", "zelk-setup-0.3.0.exe", std::string(64, 'a'), 1000};
  EXPECT_EQ(update_item_text(std::nullopt), (ItemLook{"Look for a newer version", true}));
  EXPECT_EQ(update_item_text(KnownUpdate{offer, std::nullopt, false}), (ItemLook{"Update to version 0.3.0", true}));
  EXPECT_EQ(update_item_text(KnownUpdate{offer, "The download failed.", false}),
            (ItemLook{"Update to version 0.3.0", true}));
  EXPECT_EQ(update_item_text(KnownUpdate{offer, std::nullopt, true}), (ItemLook{"Updating ...", false}));
}

}  // namespace
}  // namespace zelk
