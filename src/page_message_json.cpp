#include "page_message_json.h"

#include <cstddef>

#include "unicode.h"

namespace zelk {

namespace {

bool is_json_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

std::optional<char16_t> hex_unit(std::u16string_view digits) {
  char16_t unit = 0;
  for (const char16_t digit : digits) {
    unit = static_cast<char16_t>(unit << 4);
    if (digit >= u'0' && digit <= u'9') {
      unit = static_cast<char16_t>(unit | (digit - u'0'));
    } else if (digit >= u'a' && digit <= u'f') {
      unit = static_cast<char16_t>(unit | (digit - u'a' + 10));
    } else if (digit >= u'A' && digit <= u'F') {
      unit = static_cast<char16_t>(unit | (digit - u'A' + 10));
    } else {
      return std::nullopt;
    }
  }
  return unit;
}

}  // namespace

std::optional<std::string> page_message_from_json(std::u16string_view json) {
  while (!json.empty() && is_json_blank(json.front())) json.remove_prefix(1);
  while (!json.empty() && is_json_blank(json.back())) json.remove_suffix(1);
  if (json.size() < 2 || json.front() != u'"' || json.back() != u'"') return std::nullopt;
  const std::u16string_view inside = json.substr(1, json.size() - 2);
  std::u16string units;
  units.reserve(inside.size());
  for (std::size_t at = 0; at < inside.size(); ++at) {
    const char16_t c = inside[at];
    // A quote inside ends the string early; a raw control character is not JSON.
    if (c == u'"' || c < 0x20) return std::nullopt;
    if (c != u'\\') {
      units.push_back(c);
      continue;
    }
    if (++at == inside.size()) return std::nullopt;
    switch (inside[at]) {
      case u'"': units.push_back(u'"'); break;
      case u'\\': units.push_back(u'\\'); break;
      case u'/': units.push_back(u'/'); break;
      case u'b': units.push_back(u'\b'); break;
      case u'f': units.push_back(u'\f'); break;
      case u'n': units.push_back(u'\n'); break;
      case u'r': units.push_back(u'\r'); break;
      case u't': units.push_back(u'\t'); break;
      case u'u': {
        if (inside.size() - at - 1 < 4) return std::nullopt;
        const std::optional<char16_t> unit = hex_unit(inside.substr(at + 1, 4));
        if (!unit) return std::nullopt;
        units.push_back(*unit);
        at += 4;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return utf8_from_utf16(units);
}

}  // namespace zelk
