// Environment values: the references they hold, what kind of value each is, and the first
// text of the app's settings file that the values are later resolved against.

#include <algorithm>
#include <unordered_set>

#include "lines.h"
#include "recipe_reading.h"

namespace zelk {

using namespace recipe_reading;

std::expected<std::vector<ReferencePiece>, std::string> parse_references(std::string_view value) {
  const auto stray_dollar = [&] {
    return std::unexpected(quoted(value) +
                           ": a name is referred to as ${NAME}; a plain dollar sign is written "
                           "\"$$\".");
  };
  std::vector<ReferencePiece> pieces;
  std::string current;
  const auto flush_text = [&] {
    if (current.empty()) return;
    pieces.push_back(ReferencePiece{ReferencePiece::Kind::Text, std::move(current), {}, {}});
    current.clear();
  };
  std::size_t at = 0;
  while (true) {
    const std::size_t dollar = value.find('$', at);
    if (dollar == std::string_view::npos) {
      current += value.substr(at);
      flush_text();
      return pieces;
    }
    current += value.substr(at, dollar - at);
    const char next = dollar + 1 < value.size() ? value[dollar + 1] : '\0';
    if (next == '$') {
      current += '$';
      at = dollar + 2;
      continue;
    }
    if (next != '{') return stray_dollar();
    const std::size_t close = value.find('}', dollar + 2);
    if (close == std::string_view::npos) return stray_dollar();
    const std::string_view inside = value.substr(dollar + 2, close - dollar - 2);
    std::string_view name = inside;
    std::optional<std::string> default_value;
    if (const std::size_t split = inside.find(":-"); split != std::string_view::npos) {
      name = inside.substr(0, split);
      default_value = std::string(inside.substr(split + 2));
    } else if (const std::size_t required = inside.find(":?"); required != std::string_view::npos) {
      name = inside.substr(0, required);
    }
    if (!is_variable_name(name)) {
      return std::unexpected(quoted(value) + ": " + quoted(name) +
                             " is not a name that can be referred to.");
    }
    flush_text();
    pieces.push_back(ReferencePiece{
        ReferencePiece::Kind::Reference, {}, std::string(name), std::move(default_value)});
    at = close + 1;
  }
}

std::string missing_value_message(std::string_view name, std::string_view reference) {
  const std::string ref(reference);
  return std::string(name) + " refers to " + ref +
         ", which has no value. Give it one the user may change, as ${" + ref +
         ":-value}, or let the Zelk make a secret: list " + ref + " under \"secrets\" in x-zelk.";
}

namespace recipe_reading {

namespace {

const Secret* find_secret(const std::vector<Secret>& secrets, std::string_view name) {
  const auto found = std::find_if(secrets.begin(), secrets.end(),
                                  [&](const Secret& secret) { return secret.name == name; });
  return found == secrets.end() ? nullptr : &*found;
}

Result<EnvValue> classify(std::string_view variable, const std::vector<ReferencePiece>& pieces,
                          int format, const std::vector<Secret>& secrets) {
  using Kind = ReferencePiece::Kind;
  const auto references = std::count_if(pieces.begin(), pieces.end(), [](const ReferencePiece& p) {
    return p.kind == Kind::Reference;
  });
  EnvValue value;
  if (references == 0) {
    value.kind = EnvValue::Kind::Text;
    if (!pieces.empty()) value.text = pieces.front().text;
    return value;
  }
  const auto reference = std::find_if(pieces.begin(), pieces.end(), [](const ReferencePiece& p) {
    return p.kind == Kind::Reference;
  });
  if (references == 1 && reference->name == "TORVO_PORT") {
    value.kind = EnvValue::Kind::Port;
    if (reference != pieces.begin()) value.before = pieces.front().text;
    if (reference + 1 != pieces.end()) value.after = pieces.back().text;
    return value;
  }
  if (pieces.size() == 1) {
    if (const Secret* secret = find_secret(secrets, reference->name)) {
      value.kind = EnvValue::Kind::Secret;
      value.name = secret->name;
      value.length = secret->length;
      return value;
    }
    if (!reference->default_value) {
      return std::unexpected(missing_value_message(variable, reference->name));
    }
    value.kind = EnvValue::Kind::Setting;
    value.name = reference->name;
    value.default_value = *reference->default_value;
    return value;
  }
  if (format == 1) {
    return std::unexpected(std::string(variable) +
                           ": a value is a fixed text, a text around ${TORVO_PORT}, or one "
                           "${NAME} alone. A text with other names in it needs format 2.");
  }
  value.kind = EnvValue::Kind::Parts;
  for (const ReferencePiece& piece : pieces) {
    EnvPart part;
    if (piece.kind == Kind::Text) {
      part.kind = EnvPart::Kind::Text;
      part.text = piece.text;
    } else if (piece.name == "TORVO_PORT") {
      part.kind = EnvPart::Kind::Port;
    } else if (const Secret* secret = find_secret(secrets, piece.name)) {
      part.kind = EnvPart::Kind::Secret;
      part.name = secret->name;
      part.length = secret->length;
    } else if (piece.default_value) {
      part.kind = EnvPart::Kind::Setting;
      part.name = piece.name;
      part.default_value = *piece.default_value;
    } else {
      return std::unexpected(missing_value_message(variable, piece.name));
    }
    value.parts.push_back(std::move(part));
  }
  return value;
}

/// The settings text as it is built, with the names its lines set so far.
class SettingsText {
 public:
  /// Appends one or more whole lines (a default may hold a line feed of its own).
  void add_lines(const std::string& lines) {
    for (const std::string_view line : split_lines(lines)) {
      set_names_.insert(std::string(line.substr(0, line.find('='))));
    }
    text_ += lines;
  }

  /// Appends "<name>=<default>" unless a line of the text already starts with "<name>=".
  /// A name holds no "=", so such a line is one whose text before its first "=" is the name.
  void add_setting(const std::string& name, std::string_view default_value) {
    if (set_names_.contains(name)) return;
    add_lines(name + "=" + std::string(default_value) + "\n");
  }

  void add_settings(const std::vector<RecipeEnv>& environment) {
    for (const RecipeEnv& env : environment) {
      if (env.value.kind == EnvValue::Kind::Setting) {
        add_setting(env.value.name, env.value.default_value);
      }
      if (env.value.kind == EnvValue::Kind::Parts) {
        for (const EnvPart& part : env.value.parts) {
          if (part.kind == EnvPart::Kind::Setting) add_setting(part.name, part.default_value);
        }
      }
    }
  }

  std::string take() { return std::move(text_); }

 private:
  std::string text_;
  std::unordered_set<std::string> set_names_;
};

}  // namespace

Result<std::vector<RecipeEnv>> read_environment(const YamlValue* environment, int format,
                                                const std::vector<Secret>& secrets) {
  std::vector<RecipeEnv> result;
  if (environment == nullptr) return result;
  Result<const Entries*> entries = as_mapping(*environment, "\"environment\"");
  if (!entries) return std::unexpected(std::move(entries.error()));
  for (const YamlEntry& entry : **entries) {
    if (!is_variable_name(entry.key)) {
      return std::unexpected(quoted(entry.key) + " cannot be the name of an environment setting.");
    }
    const std::optional<std::string_view> text = yaml_text(entry.value);
    if (!text) return std::unexpected(entry.key + " needs its value on its line.");
    Result<std::vector<ReferencePiece>> pieces = parse_references(*text);
    if (!pieces) return std::unexpected(std::move(pieces.error()));
    Result<EnvValue> value = classify(entry.key, *pieces, format, secrets);
    if (!value) return std::unexpected(std::move(value.error()));
    result.push_back(RecipeEnv{entry.key, std::move(*value)});
  }
  return result;
}

std::string settings_text(std::string_view name, std::uint16_t port,
                          const std::vector<Secret>& secrets, const Recipe& recipe) {
  SettingsText text;
  text.add_lines("# Settings of " + std::string(name) +
                 ". The Zelk reads this file when it starts the app.\n");
  text.add_lines("TORVO_PORT=" + std::to_string(port) + "\n");
  for (const Secret& secret : secrets) text.add_lines(secret.name + "=\n");
  text.add_settings(recipe.environment);
  for (const RecipeService& helper : recipe.helpers) text.add_settings(helper.environment);
  return text.take();
}

}  // namespace recipe_reading

}  // namespace zelk
