#pragma once
/// The recipe: a compose-style YAML text with an x-zelk block that describes one app.
/// read_recipe is the only way a Recipe comes into being, so every Recipe passed every rule:
/// pinned image versions, named volumes only, one port on 127.0.0.1 only.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelk {

/// One part of an environment value made of several pieces.
struct EnvPart {
  enum class Kind { Text, Port, Setting, Secret };
  Kind kind = Kind::Text;
  std::string text;           ///< Kind::Text
  std::string name;           ///< Kind::Setting and Kind::Secret
  std::string default_value;  ///< Kind::Setting
  std::uint32_t length = 0;   ///< Kind::Secret
  bool operator==(const EnvPart&) const = default;
};

/// An environment value, classified when the recipe is read.
struct EnvValue {
  enum class Kind { Text, Port, Setting, Secret, Parts };
  Kind kind = Kind::Text;
  std::string text;            ///< Text: the fixed text, "$$" already turned into "$"
  std::string before;          ///< Port: text before the port
  std::string after;           ///< Port: text after the port
  std::string name;            ///< Setting and Secret
  std::string default_value;   ///< Setting
  std::uint32_t length = 0;    ///< Secret: 16 to 64
  std::vector<EnvPart> parts;  ///< Parts
  bool operator==(const EnvValue&) const = default;
};

struct RecipeEnv {
  std::string name;
  EnvValue value;
  bool operator==(const RecipeEnv&) const = default;
};

/// A named volume mounted into a container: the declared volume name (such as
/// "torvo-<id>-data") and the path inside the container.
struct RecipeMount {
  std::string volume;
  std::string path;
  bool operator==(const RecipeMount&) const = default;
};

/// One helper container of an app.
struct RecipeService {
  std::string name;       ///< the service key
  std::string container;  ///< "torvo-<id>-<name>"
  std::string image;
  std::vector<std::string> command;
  std::vector<RecipeEnv> environment;
  std::vector<RecipeMount> volumes;
  bool after_app = false;  ///< starts after the app (it depends on the app)
  bool operator==(const RecipeService&) const = default;
};

/// A recipe that passed every rule. Immutable once built.
struct Recipe {
  std::optional<std::string> lesson;
  std::optional<std::string> fallback_image;
  std::optional<std::string> network;  ///< "torvo-<id>" when the file declares it
  std::string from;                    ///< origin address of an added recipe, else ""
  std::string id;
  std::string name;
  std::string category;
  std::string summary;
  std::string ready;
  std::string open;
  std::string container;  ///< always "torvo-<id>"
  std::string image;
  std::vector<std::string> command;
  std::vector<RecipeEnv> environment;
  std::vector<RecipeMount> volumes;
  std::vector<std::string> uses;       ///< ids of apps whose network this app joins
  std::vector<RecipeService> helpers;  ///< in start order
  std::string settings;                ///< initial text of the app's settings file
  std::uint32_t disk_mb = 0;
  std::uint16_t port = 0;
  std::uint16_t inner_port = 0;
  bool built_in = false;
  bool starts_used = true;
  bool operator==(const Recipe&) const = default;
};

/// Checks a recipe text completely; gives the Recipe or the first failure as a message.
/// Pure and without a size limit of its own (callers cap the text); may run on any thread.
std::expected<Recipe, std::string> read_recipe(std::string_view text);

/// One piece of an environment value as written: plain text ("$$" already one "$") or a
/// reference ${NAME}, ${NAME:-default} or ${NAME:?text} (the last has no default).
struct ReferencePiece {
  enum class Kind { Text, Reference };
  Kind kind = Kind::Text;
  std::string text;                          ///< Text
  std::string name;                          ///< Reference
  std::optional<std::string> default_value;  ///< Reference
  bool operator==(const ReferencePiece&) const = default;
};

/// Splits an environment value into its text and reference pieces, adjacent text joined;
/// fails with the message for a stray "$" or a name that cannot be referred to.
std::expected<std::vector<ReferencePiece>, std::string> parse_references(std::string_view value);

/// The message for the variable `name` whose value refers to `reference`, which is neither a
/// secret nor has a default.
std::string missing_value_message(std::string_view name, std::string_view reference);

/// What the recipe would do on this computer, as the lines "check" shows, joined by "\n"
/// without a final line feed.
std::string describe_recipe(const Recipe& recipe);

/// The app's container name, then each helper's, in helper order.
std::vector<std::string> container_names(const Recipe& recipe);

/// The declared volume of each mount of the app, then of each helper's mounts, in order.
std::vector<std::string> volume_names(const Recipe& recipe);

/// The (name, length) of each secret an environment value refers to, in order.
std::vector<std::pair<std::string, std::uint32_t>> env_secrets(const EnvValue& value);

}  // namespace zelk
