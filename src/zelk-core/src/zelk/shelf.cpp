#include <algorithm>

#include "addresses.h"
#include "shelf.h"
#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

constexpr std::size_t label_id_width = 12;

std::string offer_label(const ShelfOffer& offer) {
  if (!offer.recipe) return offer.file;
  std::string id = offer.recipe->id;
  if (id.size() < label_id_width) id.append(label_id_width - id.size(), ' ');
  return id + " " + offer.recipe->name;
}

std::string offer_entry(const ShelfOffer& offer) {
  std::string entry = "  " + offer_label(offer) + "\n      ";
  switch (offer.state) {
    case ShelfOffer::State::New: return entry + "zelk add " + offer.address;
    case ShelfOffer::State::Added: return entry + "on this Zelk";
    case ShelfOffer::State::Changed:
      return entry + "on this Zelk with another text; the shelf's one: zelk add " + offer.address;
    case ShelfOffer::State::Refused: return entry + "not usable here: " + offer.message;
  }
  return entry;
}

// Lists every remembered shelf with its recipes. Never fails: every fetch or check failure is
// shown in its place.
CommandResult list_shelves(CommandContext& ctx) {
  const GatherBudget budget{.now = ctx.now, .total = shelf_listing_budget};
  const std::vector<ShelfView> views = gather_shelves(ctx.home, ctx.runner, ctx.recipes, &budget);
  if (views.empty()) {
    say(ctx.output,
        "No shelf is named yet. A shelf is a list of recipes on the web, for example one of a course. Name one "
        "with: zelk shelf add <address>");
    return {};
  }
  bool first = true;
  for (const ShelfView& view : views) {
    if (!first) say(ctx.output, "");
    first = false;
    if (view.error) {
      say(ctx.output, view.address + "\n  " + *view.error);
      continue;
    }
    say(ctx.output, view.name + "  (" + view.address + ")");
    for (const ShelfOffer& offer : view.offers) say(ctx.output, offer_entry(offer));
  }
  say(ctx.output, "");
  auto is_own = [](const ShelfView& view) { return view.address == default_shelf_address; };
  if (std::any_of(views.begin(), views.end(), is_own)) {
    say(ctx.output, "The Zelk's own shelf (" + address_host(default_shelf_address) +
                        "): the Zelk team tries every recipe before it is put there.");
  }
  if (!std::all_of(views.begin(), views.end(), is_own)) {
    say(ctx.output,
        "A shelf other than the Zelk's own is kept by whoever gave you its address; the Zelk team did not review "
        "what is on it.");
  }
  say(ctx.output, "\"zelk check <address>\" shows what a recipe would run before you add it.");
  return {};
}

CommandResult add_shelf(CommandContext& ctx, const std::string& address) {
  auto shelf = fetch_shelf(ctx.runner, address);
  if (!shelf) return std::unexpected(shelf.error());
  std::vector<std::string> addresses = shelf_addresses(ctx.home);
  const auto same = [&address](const std::string& known) { return same_shelf_address(known, address); };
  if (std::none_of(addresses.begin(), addresses.end(), same)) {
    if (addresses.size() >= shelf_limit) {
      return std::unexpected("This Zelk remembers " + std::to_string(shelf_limit) +
                             " shelves. Take one out first: zelk shelf forget <address>");
    }
    addresses.push_back(address);
    if (auto written = write_shelf_addresses(ctx.home, addresses); !written) {
      return std::unexpected(written.error());
    }
  }
  const std::size_t count = shelf->recipes.size();
  say(ctx.output, "\"" + shelf->name + "\" is among your shelves now, with " + std::to_string(count) +
                      (count == 1 ? " recipe" : " recipes") + ". See them with: zelk shelf");
  return {};
}

CommandResult forget_shelf(CommandContext& ctx, const std::string& address) {
  std::vector<std::string> addresses = shelf_addresses(ctx.home);
  const auto removed =
      std::erase_if(addresses, [&address](const std::string& known) { return same_shelf_address(known, address); });
  if (removed == 0) return std::unexpected("\"" + visible_text(address) + "\" is not among this Zelk's shelves.");
  if (auto written = write_shelf_addresses(ctx.home, addresses); !written) {
    return std::unexpected(written.error());
  }
  say(ctx.output, "The shelf is out of the list. Apps added from it stay.");
  return {};
}

}  // namespace

CommandResult cmd_shelf(CommandContext& ctx, const Args& args) {
  if (args.size() == 1) return list_shelves(ctx);
  if (args.size() >= 3 && args[1] == "add") return add_shelf(ctx, args[2]);
  if (args.size() >= 3 && args[1] == "forget") return forget_shelf(ctx, args[2]);
  return std::unexpected("Usage: zelk shelf | zelk shelf add <address> | zelk shelf forget <address>");
}

}  // namespace zelk
