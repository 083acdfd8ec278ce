#include "apps.h"
#include "files.h"
#include "shelf.h"

namespace zelk {

namespace {

// Fetches and admits one listed recipe; every failure stays in the offer.
ShelfOffer gather_offer(const std::filesystem::path& home, const CommandRunner& runner,
                        std::span<const Recipe> recipes, const ShelfRecipe& listed) {
  ShelfOffer offer;
  offer.file = listed.file;
  offer.address = listed.address;
  auto text = fetch_address(runner, listed.address);
  if (!text) {
    offer.message = text.error();
    return offer;
  }
  offer.text = std::move(*text);
  auto admission = admit_recipe(offer.text, recipes);
  if (!admission) {
    offer.message = admission.error();
    return offer;
  }
  if (!admission->replaces) {
    offer.state = ShelfOffer::State::New;
  } else {
    auto stored = read_file(recipe_path(home, admission->recipe.id));
    const bool same = stored && unix_line_ends(*stored) == unix_line_ends(offer.text);
    offer.state = same ? ShelfOffer::State::Added : ShelfOffer::State::Changed;
  }
  offer.recipe = std::move(admission->recipe);
  return offer;
}

// What a shelf or a recipe left out by a spent budget says in its place.
std::string not_fetched_in_budget(std::chrono::seconds total) {
  return "Not fetched: the shelves took more than " + std::to_string(total.count()) +
         " seconds in all. Try again later: zelk shelf";
}

}  // namespace

std::expected<Shelf, std::string> fetch_shelf(const CommandRunner& runner, std::string_view address) {
  auto text = fetch_address(runner, address,
                            "The program \"curl\" is not on this computer; the Zelk fetches shelves with it. "
                            "Install curl and try again, or download a recipe of the shelf in your browser and "
                            "add it from there.");
  if (!text) return std::unexpected(text.error());
  return parse_shelf(*text, address);
}

std::vector<ShelfView> gather_shelves(const std::filesystem::path& home, const CommandRunner& runner,
                                      std::span<const Recipe> recipes, const GatherBudget* budget) {
  const auto end = budget ? std::optional(budget->now() + budget->total) : std::nullopt;
  const auto spent = [&] { return end && budget->now() >= *end; };
  std::vector<ShelfView> views;
  for (const std::string& address : shelf_addresses(home)) {
    ShelfView view;
    view.address = address;
    if (spent()) {
      view.error = not_fetched_in_budget(budget->total);
      views.push_back(std::move(view));
      continue;
    }
    std::expected<Shelf, std::string> shelf = fetch_shelf(runner, address);
    if (!shelf) {
      view.error = shelf.error();
    } else {
      view.name = shelf->name;
      for (const ShelfRecipe& listed : shelf->recipes) {
        if (spent()) {
          ShelfOffer left_out;
          left_out.file = listed.file;
          left_out.address = listed.address;
          left_out.message = not_fetched_in_budget(budget->total);
          view.offers.push_back(std::move(left_out));
          continue;
        }
        view.offers.push_back(gather_offer(home, runner, recipes, listed));
      }
    }
    views.push_back(std::move(view));
  }
  return views;
}

}  // namespace zelk
