#pragma once
/// The exact "run" command of each container of an app, the environment pairs that carry its
/// secrets, and the hash that tells whether an existing container still matches its recipe
/// and settings. Secret values never reach a command line and never enter the hash. Pure
/// functions; any thread.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"
#include "runner.h"

namespace zelk {

/// What one container is made of.
struct RunPlan {
  std::vector<std::string> networks;  ///< in the order given to the runtime
  std::string container;              ///< the --name value
  std::vector<RecipeMount> mounts;
  std::vector<RecipeEnv> environment;
  std::string image;
  std::vector<std::string> command;        ///< may be empty
  std::optional<std::string> helper_name;  ///< none for the app's own container
  /// Network alias: on the one network, or with several on the last one only ("<network>:alias=<alias>").
  std::optional<std::string> alias;
  bool publish = false;                    ///< publish the app's port on 127.0.0.1
  std::uint16_t inner_port = 0;            ///< the port inside that is published
};

/// The "run" command of one container.
struct ContainerRun {
  std::vector<std::string> args;  ///< everything after the runtime's program name, from "run"
  EnvPairs env;                   ///< (name, value) for the runtime process: the secrets
  std::string recipe_hash;        ///< 16 lower-case hex digits, the label torvo.recipe
  std::string container;
  std::optional<std::string> helper_name;
};

/// "torvo-<id>_default" when the recipe has helpers; none otherwise.
std::optional<std::string> helper_network(const Recipe& recipe);

/// The app container's networks: its own, then each used app's "torvo-<id>", then the helper
/// network.
std::vector<std::string> app_networks(const Recipe& recipe);

/// The run command of a plan, with the app's port and its current settings text. Fails only
/// with "The settings of <name> have no <secret>." when a secret's setting is missing or empty.
std::expected<ContainerRun, std::string> run_arguments(const RunPlan& plan, const Recipe& recipe,
                                                       std::uint16_t port, std::string_view settings);

/// The run command of one helper: on the helper network alone, under its service name as
/// alias, nothing published.
std::expected<ContainerRun, std::string> helper_run_arguments(const Recipe& recipe, std::uint16_t port,
                                                              std::string_view settings,
                                                              const RecipeService& helper);

/// Folds a digest of the values the container gets through the runtime's environment (its
/// secrets), keyed with `key`, into its recipe hash and its label torvo.recipe: a changed secret
/// then makes the container anew, while the label tells nothing of the value. A run without
/// such values stays as it is. The key is the data folder's own (settings_digest_key).
void seal_secret_values(ContainerRun& run, std::string_view key);

/// The plan of the app's own container: its networks, its port published, and its id as alias
/// when it has helpers.
RunPlan app_run_plan(const Recipe& recipe);

}  // namespace zelk
