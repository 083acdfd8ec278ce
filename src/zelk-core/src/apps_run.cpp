#include "apps_run.h"

#include "apps.h"
#include "envfile.h"
#include "sha256.h"

namespace zelk {

namespace {

// The value of one environment entry and whether it holds a secret (then it travels in the
// runtime's environment, never on its command line).
struct ResolvedValue {
  std::string text;
  bool secret = false;
};

std::expected<ResolvedValue, std::string> resolve(const EnvValue& value, const Recipe& recipe,
                                                  std::uint16_t port, std::string_view settings) {
  switch (value.kind) {
    case EnvValue::Kind::Text:
      return ResolvedValue{value.text, false};
    case EnvValue::Kind::Port:
      return ResolvedValue{value.before + std::to_string(port) + value.after, false};
    case EnvValue::Kind::Setting:
      return ResolvedValue{setting_or_default(settings, value.name, value.default_value), false};
    case EnvValue::Kind::Secret: {
      auto secret = secret_setting(recipe, settings, value.name);
      if (!secret) return std::unexpected(secret.error());
      return ResolvedValue{std::move(*secret), true};
    }
    case EnvValue::Kind::Parts:
      break;
  }
  ResolvedValue joined;
  for (const EnvPart& part : value.parts) {
    switch (part.kind) {
      case EnvPart::Kind::Text:
        joined.text += part.text;
        break;
      case EnvPart::Kind::Port:
        joined.text += std::to_string(port);
        break;
      case EnvPart::Kind::Setting:
        joined.text += setting_or_default(settings, part.name, part.default_value);
        break;
      case EnvPart::Kind::Secret: {
        auto secret = secret_setting(recipe, settings, part.name);
        if (!secret) return std::unexpected(secret.error());
        joined.text += *secret;
        joined.secret = true;
        break;
      }
    }
  }
  return joined;
}

}  // namespace

std::optional<std::string> helper_network(const Recipe& recipe) {
  if (recipe.helpers.empty()) return std::nullopt;
  return recipe.container + "_default";
}

std::vector<std::string> app_networks(const Recipe& recipe) {
  std::vector<std::string> networks;
  if (recipe.network) networks.push_back(*recipe.network);
  for (const std::string& used : recipe.uses) networks.push_back("torvo-" + used);
  if (auto helpers = helper_network(recipe)) networks.push_back(*helpers);
  return networks;
}

std::expected<ContainerRun, std::string> run_arguments(const RunPlan& plan, const Recipe& recipe,
                                                       std::uint16_t port, std::string_view settings) {
  ContainerRun run;
  run.container = plan.container;
  run.helper_name = plan.helper_name;
  std::vector<std::string>& args = run.args;
  args = {"run", "-d", "--name", plan.container, "--restart", "unless-stopped"};
  // On several networks the alias names the container on the last one only, the app's own
  // helper network: on another app's network it could answer in place of a container there.
  const bool alias_on_last = plan.alias && plan.networks.size() > 1;
  for (std::size_t n = 0; n < plan.networks.size(); ++n) {
    args.push_back("--network");
    args.push_back(alias_on_last && n + 1 == plan.networks.size() ? plan.networks[n] + ":alias=" + *plan.alias
                                                                 : plan.networks[n]);
  }
  if (plan.alias && !alias_on_last) {
    args.push_back("--network-alias");
    args.push_back(*plan.alias);
  }
  if (plan.publish) {
    args.push_back("-p");
    args.push_back("127.0.0.1:" + std::to_string(port) + ":" + std::to_string(plan.inner_port));
  }
  for (const RecipeMount& mount : plan.mounts) {
    args.push_back("-v");
    args.push_back(mount.volume + ":" + mount.path);
  }
  for (const RecipeEnv& entry : plan.environment) {
    auto value = resolve(entry.value, recipe, port, settings);
    if (!value) return std::unexpected(value.error());
    args.push_back("-e");
    if (value->secret) {
      args.push_back(entry.name);
      run.env.emplace_back(entry.name, std::move(value->text));
    } else {
      args.push_back(entry.name + "=" + value->text);
    }
  }

  // Everything that defines the container, up to its image, then its command words; the
  // labels are not part of it, and secrets are in it only as bare names.
  std::string hashed;
  for (const std::string& arg : args) {
    hashed += arg;
    hashed += '\n';
  }
  hashed += plan.image;
  for (const std::string& word : plan.command) {
    hashed += '\n';
    hashed += word;
  }
  run.recipe_hash = fnv1a_64(hashed);

  args.push_back("--label");
  args.push_back("torvo.app=" + recipe.id);
  args.push_back("--label");
  args.push_back("torvo.recipe=" + run.recipe_hash);
  args.push_back(plan.image);
  args.insert(args.end(), plan.command.begin(), plan.command.end());
  return run;
}

std::expected<ContainerRun, std::string> helper_run_arguments(const Recipe& recipe, std::uint16_t port,
                                                              std::string_view settings,
                                                              const RecipeService& helper) {
  RunPlan plan;
  if (auto network = helper_network(recipe)) plan.networks.push_back(*network);
  plan.container = helper.container;
  plan.mounts = helper.volumes;
  plan.environment = helper.environment;
  plan.image = helper.image;
  plan.command = helper.command;
  plan.helper_name = helper.name;
  plan.alias = helper.name;
  plan.publish = false;
  return run_arguments(plan, recipe, port, settings);
}

void seal_secret_values(ContainerRun& run, std::string_view key) {
  if (run.env.empty()) return;
  // Each name and value with its length before it, so that no two lists read alike.
  std::string values;
  for (const auto& [name, value] : run.env) {
    for (const std::string* part : {&name, &value}) {
      values += std::to_string(part->size()) + ":" + *part + "\n";
    }
  }
  // Half of the digest is plenty to tell two lists apart, and keeps the label short.
  constexpr std::size_t kept_digits = 32;
  const std::string old_label = "torvo.recipe=" + run.recipe_hash;
  run.recipe_hash += hmac_sha256_hex(key, values).substr(0, kept_digits);
  for (std::string& arg : run.args) {
    if (arg == old_label) {
      arg = "torvo.recipe=" + run.recipe_hash;
      break;
    }
  }
}

RunPlan app_run_plan(const Recipe& recipe) {
  RunPlan plan;
  plan.networks = app_networks(recipe);
  plan.container = recipe.container;
  plan.mounts = recipe.volumes;
  plan.environment = recipe.environment;
  plan.image = recipe.image;
  plan.command = recipe.command;
  if (helper_network(recipe)) plan.alias = recipe.id;
  plan.publish = true;
  plan.inner_port = recipe.inner_port;
  return plan;
}

}  // namespace zelk
