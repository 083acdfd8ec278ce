#pragma once
/// Walking UTF-8 text one Unicode scalar value at a time, for the rules that count characters
/// or refuse white space and control characters. A byte that does not start a well-formed
/// sequence reads as one character U+FFFD, so any bytes can be walked and nothing fails.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

/// One decoded character and the number of bytes it took (at least 1).
struct CodePoint {
  char32_t value = 0;
  std::size_t size = 1;
};

/// The character that starts at byte `at` of the text; `at` must be inside the text.
CodePoint code_point_at(std::string_view text, std::size_t at);

/// UTF-8 of UTF-16 text (what Windows and web views hand over); an unpaired surrogate becomes
/// U+FFFD, and everything else, a NUL included, is kept.
std::string utf8_from_utf16(std::u16string_view units);

/// UTF-8 of UTF-16 text, or none when it holds an unpaired surrogate (text no UTF-8 carries).
std::optional<std::string> utf8_from_utf16_exact(std::u16string_view units);

/// True for the characters Unicode calls white space (U+0009-000D, U+0020, U+0085, U+00A0,
/// U+1680, U+2000-200A, U+2028, U+2029, U+202F, U+205F, U+3000).
bool is_white_space(char32_t c);

/// True for the control characters 0-31 and 127-159.
bool is_control_character(char32_t c);

/// The number of characters in the text.
std::size_t count_characters(std::string_view text);

/// True when some character of the text is white space or a control character.
bool has_white_space_or_control(std::string_view text);

/// True when some character of the text is a control character.
bool has_control_character(std::string_view text);

/// The text without white space at its start.
std::string_view trim_leading_white_space(std::string_view text);

/// The text without white space at its end.
std::string_view trim_trailing_white_space(std::string_view text);

/// The text without white space at either end: the one rule wherever text is "trimmed".
std::string_view trim_white_space(std::string_view text);

/// The words of the text, split at runs of white space; none for a text of white space only.
std::vector<std::string_view> split_white_space(std::string_view text);

/// The mark a shortened text ends with.
inline constexpr std::string_view shortened_mark = " ...";

/// The one rule wherever a text is shortened: the text as it is when it has at most `limit`
/// characters; else at most its first `limit` characters and the mark " ...". The start ends
/// after a whole word when a word ends in the latter half of those characters (so a sentence
/// keeps its first words readable), else it is cut between two characters. Bytes are copied as
/// they are.
std::string shorten_text(std::string_view text, std::size_t limit);

/// True for the characters that change the direction of the text around them (U+200E,
/// U+200F, U+202A-U+202E, U+2066-U+2069): shown as they are, they can make a text read as
/// another.
bool is_bidi_control(char32_t c);

/// True when some character of the text is a direction mark (is_bidi_control).
bool has_bidi_control(std::string_view text);

/// The one way a stranger's text (a recipe's, a shelf's, an app's output) is shown: control
/// characters and direction marks become their escapes ("\x1b", "\r", "\n", "\u202e"), and so
/// does a byte that is not UTF-8 ("\xff"), so the text cannot move the cursor, hide what
/// follows, start a line of its own or read backwards. Everything else is kept byte for byte.
std::string visible_text(std::string_view text);

/// The text without the terminal's escape sequences (colours, cursor moves, titles), as a
/// program writes them for a console: what is left reads as plain text.
std::string without_terminal_codes(std::string_view text);

}  // namespace zelk
