#include "yaml.h"

#include <string>
#include <unordered_set>
#include <utility>

#include "lines.h"
#include "unicode.h"

namespace zelk {

YamlValue::~YamlValue() {
  // A tree as deep as its text allows would overflow the stack if every level destroyed the
  // next one, so the descendants are taken out and released one by one from a work list.
  if (mapping.empty() && list.empty()) return;
  std::vector<YamlValue> pending;
  const auto take_children = [&pending](YamlValue& value) {
    for (YamlEntry& entry : value.mapping) pending.push_back(std::move(entry.value));
    for (YamlValue& item : value.list) pending.push_back(std::move(item));
    value.mapping.clear();
    value.list.clear();
  };
  take_children(*this);
  while (!pending.empty()) {
    YamlValue value = std::move(pending.back());
    pending.pop_back();
    take_children(value);
  }
}

namespace {

constexpr auto npos = std::string_view::npos;

std::string line_error(const YamlLine& line, std::string_view message) {
  return "Line " + std::to_string(line.number) + ": " + std::string(message);
}

bool is_list_entry(std::string_view content) { return content == "-" || content.starts_with("- "); }

struct Setting {
  std::string_view name;
  std::string_view value;
};

/// Splits "name: value" (or "name:" with an empty value); none when the content is no setting.
std::optional<Setting> split_setting(std::string_view content) {
  if (content.starts_with('"') || content.starts_with('\'')) return std::nullopt;
  if (content.ends_with(':')) {
    const std::string_view name = content.substr(0, content.size() - 1);
    if (name.find(": ") == npos && name.find(" #") == npos) return Setting{name, {}};
  }
  const std::size_t colon = content.find(": ");
  if (colon == npos) return std::nullopt;
  return Setting{content.substr(0, colon), trim_leading_white_space(content.substr(colon + 2))};
}

/// The value without its comment. A quoted value is left whole: only the quote reader knows
/// where the quote ends and a comment may begin.
std::string_view strip_comment(std::string_view value) {
  if (value.starts_with('#')) return {};
  if (value.starts_with('"') || value.starts_with('\'')) return value;
  const std::size_t mark = value.find(" #");
  if (mark != npos) value = value.substr(0, mark);
  return trim_trailing_white_space(value);
}

bool is_setting_name(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

/// What may follow a closing quote: nothing or a comment.
std::expected<std::string, std::string> after_quote(std::string text, std::string_view rest,
                                                    const YamlLine& line) {
  rest = trim_leading_white_space(rest);
  if (!rest.empty() && !rest.starts_with('#')) {
    return std::unexpected(line_error(line, "there is text after the closing quote."));
  }
  return text;
}

std::expected<std::string, std::string> parse_double_quoted(std::string_view value,
                                                            const YamlLine& line) {
  std::string text;
  for (std::size_t at = 1; at < value.size(); ++at) {
    const char c = value[at];
    if (c == '"') return after_quote(std::move(text), value.substr(at + 1), line);
    if (c != '\\') {
      text += c;
      continue;
    }
    const char escaped = at + 1 < value.size() ? value[at + 1] : '\0';
    switch (escaped) {
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case '\\':
        text += '\\';
        break;
      case '"':
        text += '"';
        break;
      case '/':
        text += '/';
        break;
      default:
        return std::unexpected(
            line_error(line, "after \"\\\" only n, t, \\ and \" are understood."));
    }
    ++at;
  }
  return std::unexpected(line_error(line, "the quote is not closed."));
}

std::expected<std::string, std::string> parse_single_quoted(std::string_view value,
                                                            const YamlLine& line) {
  std::string text;
  for (std::size_t at = 1; at < value.size(); ++at) {
    const char c = value[at];
    if (c != '\'') {
      text += c;
      continue;
    }
    if (at + 1 < value.size() && value[at + 1] == '\'') {
      text += '\'';
      ++at;
      continue;
    }
    return after_quote(std::move(text), value.substr(at + 1), line);
  }
  return std::unexpected(line_error(line, "the quote is not closed."));
}

/// A non-empty value as the text it stands for.
std::expected<std::string, std::string> parse_scalar(std::string_view value, const YamlLine& line) {
  const char first = value.front();
  if (first == '"') return parse_double_quoted(value, line);
  if (first == '\'') return parse_single_quoted(value, line);
  if (std::string_view("&*!|>{[@`,%?").find(first) != npos) {
    return std::unexpected(line_error(line, "a value that starts with \"" + std::string(1, first) +
                                                "\" is not understood; put text in quotes."));
  }
  return std::string(value);
}

YamlValue text_value(std::string text) {
  YamlValue value;
  value.text = std::move(text);
  return value;
}

/// A mapping or list whose lines are still being read, and the key its parent mapping will
/// hold it under (empty when the parent is a list).
struct OpenBlock {
  YamlValue value;
  std::size_t indent = 0;
  std::string key;
  std::unordered_set<std::string_view> names;  ///< keys of a mapping so far, views into the text
};

OpenBlock open_block(bool is_list, std::size_t indent, std::string key) {
  OpenBlock block;
  block.value.kind = is_list ? YamlValue::Kind::List : YamlValue::Kind::Mapping;
  block.indent = indent;
  block.key = std::move(key);
  return block;
}

/// Reads nested blocks with a stack of open blocks in place of recursion: each step either
/// reads one line of the innermost block, opens a deeper block under it, or closes it and
/// hands its value to the block around it.
std::expected<YamlValue, std::string> read_blocks(const std::vector<YamlLine>& lines,
                                                  std::size_t& position, OpenBlock outermost) {
  std::vector<OpenBlock> open;
  open.push_back(std::move(outermost));
  const auto next_line = [&]() -> const YamlLine* {
    return position < lines.size() ? &lines[position] : nullptr;
  };
  while (true) {
    OpenBlock& block = open.back();
    const YamlLine* line = next_line();
    const bool is_list = block.value.kind == YamlValue::Kind::List;
    bool ends = line == nullptr || line->indent < block.indent;
    if (!ends && is_list) {
      if (line->indent > block.indent) {
        return std::unexpected(
            line_error(*line, "this line is indented further than the list it follows."));
      }
      // Any other line at the list's column belongs to the mapping around the list.
      ends = !is_list_entry(line->content);
    }
    if (ends) {
      OpenBlock done = std::move(block);
      open.pop_back();
      if (open.empty()) return std::move(done.value);
      OpenBlock& parent = open.back();
      if (parent.value.kind == YamlValue::Kind::List) {
        parent.value.list.push_back(std::move(done.value));
      } else {
        parent.value.mapping.push_back(YamlEntry{std::move(done.key), std::move(done.value)});
      }
      continue;
    }

    std::string_view value;
    std::string key;
    if (is_list) {
      ++position;
      value = strip_comment(trim_leading_white_space(line->content.substr(1)));
      if (!value.empty() && split_setting(value)) {
        return std::unexpected(line_error(
            *line, "a list entry here is one text; put it in quotes if it contains \": \"."));
      }
    } else {
      if (line->indent > block.indent) {
        return std::unexpected(
            line_error(*line, "this line is indented further than the one before allows."));
      }
      if (is_list_entry(line->content)) {
        return std::unexpected(line_error(*line, "a list entry where a setting is expected."));
      }
      const std::optional<Setting> setting = split_setting(line->content);
      if (!setting) {
        return std::unexpected(
            line_error(*line, "expected a setting of the form \"name: value\"."));
      }
      if (!is_setting_name(setting->name)) {
        return std::unexpected(
            line_error(*line, "a name may have letters, digits, \"_\", \"-\" and \".\" only."));
      }
      if (!block.names.insert(setting->name).second) {
        return std::unexpected(
            line_error(*line, "\"" + std::string(setting->name) + "\" is set twice."));
      }
      ++position;
      key = std::string(setting->name);
      value = strip_comment(setting->value);
    }

    const auto add = [&block, &key, is_list](YamlValue item) {
      if (is_list) {
        block.value.list.push_back(std::move(item));
      } else {
        block.value.mapping.push_back(YamlEntry{std::move(key), std::move(item)});
      }
    };
    if (!value.empty()) {
      std::expected<std::string, std::string> text = parse_scalar(value, *line);
      if (!text) return std::unexpected(std::move(text.error()));
      add(text_value(std::move(*text)));
      continue;
    }
    const YamlLine* next = next_line();
    if (next != nullptr && next->indent > block.indent) {
      // `block` is not used after this push, which may move it.
      open.push_back(open_block(is_list_entry(next->content), next->indent, std::move(key)));
    } else if (!is_list && next != nullptr && next->indent == block.indent &&
               is_list_entry(next->content)) {
      // "key:" followed by "- " entries at the key's own column holds that list.
      open.push_back(open_block(true, block.indent, std::move(key)));
    } else {
      add(YamlValue{});
    }
  }
}

}  // namespace

std::expected<YamlValue, std::string> parse_yaml_block(const std::vector<YamlLine>& lines,
                                                       std::size_t& position, std::size_t indent) {
  const bool is_list = position < lines.size() && is_list_entry(lines[position].content);
  return read_blocks(lines, position, open_block(is_list, indent, {}));
}

std::expected<YamlValue, std::string> parse_yaml_list(const std::vector<YamlLine>& lines,
                                                      std::size_t& position, std::size_t indent) {
  return read_blocks(lines, position, open_block(true, indent, {}));
}

std::expected<YamlValue, std::string> read_yaml(std::string_view text) {
  std::vector<YamlLine> lines;
  std::size_t number = 0;
  for (const std::string_view raw : split_lines(text, LoneReturn::Kept)) {
    ++number;
    std::size_t indent = 0;
    while (indent < raw.size() && raw[indent] == ' ') ++indent;
    YamlLine line{trim_trailing_white_space(raw.substr(indent)), number, indent};
    if (!line.content.empty() && !line.content.starts_with('#')) {
      if (line.content.starts_with('\t')) {
        return std::unexpected(line_error(line, "indent with spaces, not with tabs."));
      }
      if (line.content == "---" || line.content == "..." || line.content.starts_with('%')) {
        return std::unexpected(line_error(line, "a recipe is one document, without markers."));
      }
      lines.push_back(line);
    }
  }
  if (lines.empty()) return std::unexpected("The file is empty.");
  std::size_t position = 0;
  std::expected<YamlValue, std::string> root = parse_yaml_block(lines, position, lines[0].indent);
  if (!root) return root;
  if (position < lines.size()) {
    return std::unexpected(
        line_error(lines[position], "this line is indented less than the first one."));
  }
  return root;
}

const YamlValue* yaml_get(const YamlValue& value, std::string_view key) {
  if (value.kind != YamlValue::Kind::Mapping) return nullptr;
  for (const YamlEntry& entry : value.mapping) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

std::optional<std::string_view> yaml_text(const YamlValue& value) {
  if (value.kind != YamlValue::Kind::Text) return std::nullopt;
  return value.text;
}

}  // namespace zelk
