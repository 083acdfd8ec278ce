#include "unicode.h"

#include <cstdlib>

namespace zelk {

namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void append_utf8(std::string& text, char32_t c) {
  if (c < 0x80) {
    text.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    text.push_back(static_cast<char>(0xC0 | (c >> 6)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    text.push_back(static_cast<char>(0xE0 | (c >> 12)));
    text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    text.push_back(static_cast<char>(0xF0 | (c >> 18)));
    text.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The one conversion of UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD, or, when the
// text must be exact, makes the result none.
std::optional<std::string> utf8_of_units(std::u16string_view units, bool exact) {
  std::string text;
  text.reserve(units.size());
  for (std::size_t at = 0; at < units.size(); ++at) {
    const char16_t unit = units[at];
    char32_t c = unit;
    if (is_high_surrogate(unit) && at + 1 < units.size() && is_low_surrogate(units[at + 1])) {
      c = 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{units[++at]} - 0xDC00);
    } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
      if (exact) return std::nullopt;
      c = replacement;
    }
    append_utf8(text, c);
  }
  return text;
}

}  // namespace

std::string utf8_from_utf16(std::u16string_view units) { return *utf8_of_units(units, false); }

std::optional<std::string> utf8_from_utf16_exact(std::u16string_view units) { return utf8_of_units(units, true); }

CodePoint code_point_at(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t size = 0;
  char32_t value = 0;
  char32_t smallest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2, value = lead & 0x1F, smallest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3, value = lead & 0x0F, smallest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4, value = lead & 0x07, smallest = 0x10000;
  } else {
    return {replacement, 1};
  }
  if (text.size() - at < size) return {replacement, 1};
  for (std::size_t i = 1; i < size; ++i) {
    if (!is_continuation(byte(i))) return {replacement, 1};
    value = (value << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not scalar values.
  if (value < smallest || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
    return {replacement, 1};
  }
  return {value, size};
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_control_character(char32_t c) { return c <= 31 || (c >= 127 && c <= 159); }

std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); at += code_point_at(text, at).size) ++count;
  return count;
}

bool has_white_space_or_control(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (is_white_space(c.value) || is_control_character(c.value)) return true;
    at += c.size;
  }
  return false;
}

bool has_control_character(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (is_control_character(c.value)) return true;
    at += c.size;
  }
  return false;
}

std::string_view trim_leading_white_space(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const CodePoint c = code_point_at(text, at);
    if (!is_white_space(c.value)) break;
    at += c.size;
  }
  return text.substr(at);
}

std::string_view trim_trailing_white_space(std::string_view text) {
  // Walks forward, because a UTF-8 sequence is only known from its first byte.
  std::size_t end = 0;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    at += c.size;
    if (!is_white_space(c.value)) end = at;
  }
  return text.substr(0, end);
}

std::string_view trim_white_space(std::string_view text) {
  return trim_trailing_white_space(trim_leading_white_space(text));
}

std::vector<std::string_view> split_white_space(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t word_start = std::string_view::npos;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (is_white_space(c.value)) {
      if (word_start != std::string_view::npos) words.push_back(text.substr(word_start, at - word_start));
      word_start = std::string_view::npos;
    } else if (word_start == std::string_view::npos) {
      word_start = at;
    }
    at += c.size;
  }
  if (word_start != std::string_view::npos) words.push_back(text.substr(word_start));
  return words;
}

std::string shorten_text(std::string_view text, std::size_t limit) {
  // One walk over at most limit + 1 characters finds whether the text is too long at all,
  // where the first `limit` characters end, and where the last blank in their latter half
  // starts.
  std::size_t characters = 0;
  std::size_t room_end = 0;   // the byte after the first `limit` characters
  std::size_t word_end = 0;   // the byte where that last blank starts; 0 for none
  bool cut_at_space = false;  // the character right after the room is white space
  std::size_t at = 0;
  while (at < text.size()) {
    const CodePoint c = code_point_at(text, at);
    if (characters < limit) {
      if (is_white_space(c.value) && characters >= limit / 2) word_end = at;
    } else {
      room_end = at;
      cut_at_space = is_white_space(c.value);
      ++characters;
      break;
    }
    at += c.size;
    ++characters;
  }
  if (characters <= limit) return std::string(text);
  std::size_t cut = room_end;
  if (!cut_at_space && word_end != 0) cut = word_end;
  std::string shown(trim_trailing_white_space(text.substr(0, cut)));
  shown.append(shortened_mark);
  return shown;
}

bool is_bidi_control(char32_t c) {
  return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool has_bidi_control(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (is_bidi_control(c.value)) return true;
    at += c.size;
  }
  return false;
}

std::string visible_text(std::string_view text) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    const bool broken = c.value == replacement && text.substr(at, c.size) != "\xEF\xBF\xBD";
    if (broken || (c.value < 0x80 && is_control_character(c.value))) {
      const auto byte = static_cast<unsigned char>(text[at]);
      switch (byte) {
        case '\n': shown += "\\n"; break;
        case '\r': shown += "\\r"; break;
        case '\t': shown += "\\t"; break;
        default:
          shown += "\\x";
          shown += digits[byte >> 4];
          shown += digits[byte & 0xF];
      }
      at += 1;
      continue;
    }
    if (is_control_character(c.value) || is_bidi_control(c.value)) {
      shown += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) shown += digits[(c.value >> shift) & 0xF];
    } else {
      shown.append(text.substr(at, c.size));
    }
    at += c.size;
  }
  return shown;
}

std::string without_terminal_codes(std::string_view text) {
  constexpr char escape = '\x1b';
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] != escape) {
      plain.push_back(text[at++]);
      continue;
    }
    ++at;
    if (at >= text.size()) break;
    const char kind = text[at++];
    if (kind == '[') {
      // A control sequence: parameters and intermediates, then one final byte from @ to ~.
      while (at < text.size() && (static_cast<unsigned char>(text[at]) < 0x40 || text[at] > '~')) ++at;
      if (at < text.size()) ++at;
    } else if (kind == ']' || kind == 'P' || kind == '_' || kind == '^') {
      // A string (a window title, say) ends with BEL or with ESC and a backslash.
      while (at < text.size() && text[at] != '\a' && text[at] != escape) ++at;
      if (at < text.size() && text[at] == '\a') {
        ++at;
      } else if (at + 1 < text.size() && text[at + 1] == '\\') {
        at += 2;
      }
    }
    // Any other escape is two bytes long, and both go.
  }
  return plain;
}

}  // namespace zelk
