#include "workers.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>
#include <vector>

#include "apps_read.h"
#include "envfile.h"
#include "runtime.h"
#include "shelf.h"
#include "update.h"
#include "worker_starts.h"
#include "zelk/app_containers.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

using namespace std::chrono_literals;

CommandContext window_context(const WorkerServices& services, const std::filesystem::path& home,
                              const RecipeCatalogue& catalogue, OutputWriter& output) {
  CommandContext ctx{home,
                     catalogue.recipes,
                     *services.runner,
                     output,
                     services.probe,
                     services.sleep,
                     services.fill_random,
                     services.open_in_browser,
                     services.platform,
                     services.now};
  // The window offers no "zelk logs": a start that finds the app stopped says what it wrote last.
  ctx.quote_app_logs = true;
  return ctx;
}

}  // namespace

std::shared_ptr<const Recipe> shared_recipe(const SharedCatalogue& catalogue, std::size_t index) {
  return std::shared_ptr<const Recipe>(catalogue, &catalogue->recipes.at(index));
}

LineWriter::LineWriter(std::shared_ptr<const LoopProxy> proxy, std::shared_ptr<const Recipe> recipe)
    : proxy_(std::move(proxy)), recipe_(std::move(recipe)) {}

void LineWriter::write(std::string_view bytes) {
  lines_.add(bytes);
  while (const std::optional<std::string_view> line = lines_.next()) {
    if (!line->empty()) proxy_->send(CommandLine{decode_utf8_lossy(*line), recipe_});
  }
}

void check_updates_periodically(const LoopProxy& proxy, const WorkerServices& services) {
  services.sleep(5s);
  if (const auto home = services.data_folder()) {
    std::error_code ignored;
    std::filesystem::remove_all(update_folder(*home), ignored);
  }
  services.sleep(25s);
  for (;;) {
    // A look that stops on an error is that day's look only: the looks go on, and the error is
    // shown, as an asked look's failure and every other worker's unexpected error are.
    UpdateChecked checked{std::nullopt, false};
    if (auto failure = failure_of([&] { checked.outcome = check_for_update(*services.runner, zelk_version); })) {
      checked = UpdateChecked{std::unexpected(std::move(*failure)), true};
    }
    if (!proxy.send(std::move(checked))) return;
    services.sleep(86400s);
  }
}

void resume_apps_in_window(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue) {
  const auto home = services.data_folder();
  if (!home) {
    proxy.send(Resumed{std::unexpected(std::string(no_home_message))});
    return;
  }
  DiscardingWriter discard;
  CommandContext ctx = window_context(services, *home, catalogue, discard);
  proxy.send(Resumed{run_command(ctx, {"resume"})});
}

void refresh_states(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue,
                    std::uint64_t number) {
  const auto home = services.data_folder();
  if (!home) {
    proxy.send(StatesRead{number, std::unexpected(std::string(no_home_message))});
    return;
  }
  DiscardingWriter discard;
  const CommandContext ctx = window_context(services, *home, catalogue, discard);
  auto read = read_apps(ctx);
  if (!read) {
    proxy.send(StatesRead{number, std::unexpected(read.error())});
    return;
  }
  StatesFound found;
  found.runtime_name = std::string(read->choice.runtime.display_name);
  for (std::size_t index = 0; index < catalogue.recipes.size(); ++index) {
    const Recipe& recipe = catalogue.recipes[index];
    found.rows.push_back(StateRow{std::move(read->states[index]), app_address(*home, recipe), recipe.id,
                                  listed_containers(recipe, read->choice.containers)});
  }
  proxy.send(StatesRead{number, std::move(found)});
}

void run_shelf_work(const LoopProxy& proxy, const WorkerServices& services, const RecipeCatalogue& catalogue,
                    const std::optional<ShelfWord>& word, std::uint64_t number) {
  const auto home = services.data_folder();
  if (!home) {
    proxy.send(ShelvesRead{std::string(no_home_message), {}, number});
    return;
  }
  const CommandRunner& runner = *services.runner;
  std::optional<std::string> problem;
  if (word && word->word == "add") {
    std::expected<Shelf, std::string> shelf = fetch_shelf(runner, word->address);
    if (!shelf) {
      problem = shelf.error();
    } else {
      std::vector<std::string> addresses = shelf_addresses(*home);
      const auto same = [&word](const std::string& known) { return same_shelf_address(known, word->address); };
      if (std::none_of(addresses.begin(), addresses.end(), same)) {
        if (addresses.size() >= shelf_limit) {
          problem = "This Zelk remembers " + std::to_string(addresses.size()) +
                    " shelves. Take one out first: zelk shelf forget <address>";
        } else {
          addresses.push_back(word->address);
          if (auto written = write_shelf_addresses(*home, addresses); !written) problem = written.error();
        }
      }
    }
  } else if (word && word->word == "forget") {
    std::vector<std::string> addresses = shelf_addresses(*home);
    std::erase_if(addresses, [&word](const std::string& known) { return same_shelf_address(known, word->address); });
    if (auto written = write_shelf_addresses(*home, addresses); !written) problem = written.error();
  }
  proxy.send(ShelvesRead{std::move(problem), gather_shelves(*home, runner, catalogue.recipes), number});
}

void check_update_now(const LoopProxy& proxy, const WorkerServices& services) {
  proxy.send(UpdateChecked{check_for_update(*services.runner, zelk_version), true});
}

void install_update_in_window(const LoopProxy& proxy, const WorkerServices& services, const UpdateOffer& offer,
                              bool window_open) {
  const auto home = services.data_folder();
  if (!home) {
    proxy.send(UpdateInstalled{std::unexpected(std::string(no_home_message))});
    return;
  }
  auto installer = download_update(*home, *services.runner, offer);
  if (!installer) {
    proxy.send(UpdateInstalled{std::unexpected(installer.error())});
    return;
  }
  proxy.send(UpdateInstalled{launch_installer(*installer, window_open, services.start_installer)});
}

void run_app_command(const std::shared_ptr<const LoopProxy>& proxy, const WorkerServices& services,
                     const RecipeCatalogue& catalogue, std::string_view word,
                     const std::shared_ptr<const Recipe>& recipe) {
  const Args args = word == "model" ? Args{"model"} : Args{std::string(word), recipe->id};
  CommandResult result;
  {
    // The writer goes before CommandDone is sent, so an unfinished last line is dropped and
    // every line it did send is queued ahead of the CommandDone.
    LineWriter output(proxy, recipe);
    if (const auto home = services.data_folder()) {
      CommandContext ctx = window_context(services, *home, catalogue, output);
      result = run_command(ctx, args);
    } else {
      result = std::unexpected(std::string(no_home_message));
    }
  }
  proxy->send(CommandDone{std::move(result), recipe});
}

}  // namespace zelk
