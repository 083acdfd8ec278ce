#include "app_lock.h"
#include "apps.h"
#include "apps_start.h"
#include "envfile.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

constexpr std::string_view default_model = "llama3.2:3b";

// The name follows "ollama pull" on its command line: one that starts with "-" would be read
// as an option of Ollama's, not as a model.
bool is_model_name(std::string_view name) {
  if (name.empty() || name.size() > 100 || name.front() == '-') return false;
  for (char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && std::string_view("._:/-").find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace

// The model is fetched by Ollama inside its own container, so the download lands in its volume.
CommandResult cmd_model(CommandContext& ctx, const Args& args) {
  const bool named = args.size() >= 2;
  const std::string name = named ? args[1] : std::string(default_model);
  if (!is_model_name(name)) {
    return std::unexpected("\"" + name + "\" is not the name of a model. Names look like " +
                           std::string(default_model) + ".");
  }
  auto ollama = find_app(ctx.recipes, "ollama");
  if (!ollama) return std::unexpected(ollama.error());
  const Recipe& recipe = **ollama;
  auto held = lock_app_and_used(ctx, recipe);
  if (!held) return std::unexpected(held.error());
  auto choice = ensure_runtime(ctx);
  if (!choice) return std::unexpected(choice.error());
  if (app_state(ctx, recipe, choice->containers).kind != AppState::Kind::Ready) {
    auto started = start_app_with_used(ctx, choice->runtime, recipe, choice->containers);
    if (!started) return std::unexpected(started.error());
  }

  say(ctx.output, named ? "Fetching the model " + name + " into Ollama ..."
                        : "Fetching the model " + name + " into Ollama, about 2 GB the first time ...");
  auto fetched = ctx.runner.run_attached(std::string(choice->runtime.command),
                                         {"exec", recipe.container, "ollama", "pull", name}, {}, AttachMode::Output);
  if (!fetched) return std::unexpected("Fetching " + name + " failed: " + fmt_run_error(fetched.error()) + ".");
  if (!fetched->exit_code) return std::unexpected("Fetching " + name + " was stopped.");
  if (*fetched->exit_code != 0) {
    return std::unexpected("Ollama could not fetch " + name + " (exit code " + std::to_string(*fetched->exit_code) +
                           "). Check the name and the connection. See: zelk logs ollama");
  }
  say(ctx.output, "The model " + name + " is ready. In Open WebUI, choose it at the top of a new chat.");
  return {};
}

}  // namespace zelk
