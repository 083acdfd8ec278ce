#pragma once
/// The small YAML subset that recipes and shelves are written in: block mappings, block
/// lists, plain and quoted one-line texts and comments. Every leaf is a text.

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

struct YamlEntry;

/// A value of the subset: a text, a mapping (ordered, no key twice) or a list. The tree owns
/// all its strings. A tree is released without recursion, so no nesting depth can exhaust
/// the stack when it goes.
struct YamlValue {
  enum class Kind { Text, Mapping, List };
  Kind kind = Kind::Text;
  std::string text;                ///< Kind::Text
  std::vector<YamlEntry> mapping;  ///< Kind::Mapping, in file order
  std::vector<YamlValue> list;     ///< Kind::List

  YamlValue() = default;
  YamlValue(const YamlValue&) = default;
  YamlValue(YamlValue&&) noexcept = default;
  YamlValue& operator=(const YamlValue&) = default;
  YamlValue& operator=(YamlValue&&) noexcept = default;
  ~YamlValue();
};

struct YamlEntry {
  std::string key;
  YamlValue value;
};

/// One line that holds content: the text after the indentation without trailing white space
/// (a view into the source), its line number counted from 1, and its indentation in spaces.
struct YamlLine {
  std::string_view content;
  std::size_t number = 0;
  std::size_t indent = 0;
};

/// Reads a whole text into one tree, or gives the first error as "Line <n>: <message>"
/// ("The file is empty." has no prefix). Any bytes are accepted as input; nesting is read
/// with a stack of its own, not by recursion, so depth is bounded only by memory. Pure; may
/// run on any thread.
std::expected<YamlValue, std::string> read_yaml(std::string_view text);

/// Reads the block (mapping or list) that starts at lines[position], whose lines have exactly
/// `indent` spaces; advances position past it.
std::expected<YamlValue, std::string> parse_yaml_block(const std::vector<YamlLine>& lines,
                                                       std::size_t& position, std::size_t indent);

/// Reads a list whose entries have exactly `indent` spaces.
std::expected<YamlValue, std::string> parse_yaml_list(const std::vector<YamlLine>& lines,
                                                      std::size_t& position, std::size_t indent);

/// The value of a mapping's entry with that key; none for a text, a list or a missing key.
const YamlValue* yaml_get(const YamlValue& value, std::string_view key);

/// The string of a text; none for a mapping or a list.
std::optional<std::string_view> yaml_text(const YamlValue& value);

}  // namespace zelk
