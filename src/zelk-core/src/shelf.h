#pragma once
/// Texts from the web and the shelves that list recipes there. Every fetch runs the `curl`
/// program through the CommandRunner, and every address passes check_web_address first:
/// addresses are the one way text from the web reaches a command line.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"
#include "runner.h"

namespace zelk {

// ---- Web addresses and fetches ----

/// The largest text a fetch returns (and the largest recipe there is).
inline constexpr std::size_t fetch_size_limit = 65536;

/// curl's own limit on one fetch, and the runner's limit around it.
inline constexpr int fetch_curl_seconds = 20;
inline constexpr std::chrono::seconds fetch_run_limit{30};

/// Nothing when the address may be fetched ("https://" with a plain host, or plain "http://"
/// to 127.0.0.1 or localhost only); else the message, which says what keeps this address from
/// being fetched. It shows the address shortened to 100 characters (shorten_text) and with its
/// controls and direction marks visible (visible_text).
std::expected<void, std::string> check_web_address(std::string_view address);

/// curl's arguments for fetching `address`: the redirect and protocol rules, the size and time
/// limits, then `--output <file>` when a file is named, then "--" and the address. The address
/// always comes after "--", so even an unchecked one could never be read as an option.
std::vector<std::string> curl_arguments(std::string_view address, std::uint64_t max_filesize,
                                        int max_seconds,
                                        std::optional<std::string> output_file = std::nullopt);

/// Runs curl captured with the arguments and turns every outcome but exit code 0 into the
/// message to show: `missing` when curl is not on this computer, "<address> could not be
/// fetched (<reason>)." when the run itself fails, and "<address> could not be fetched."
/// followed by curl's last error line when curl fails. curl is ended the moment it passes a
/// bound, and the message is then `too_large`.
std::expected<RunOutput, std::string> run_curl(const CommandRunner& runner, std::string_view address,
                                               const std::vector<std::string>& args,
                                               std::chrono::nanoseconds limit, std::string_view missing,
                                               const RunBounds& bounds, std::string_view too_large);

/// Fetches one small text (at most 65,536 bytes) with curl, or gives the message to show.
/// Without curl the message advises fetching the recipe in a browser.
std::expected<std::string, std::string> fetch_address(const CommandRunner& runner,
                                                      std::string_view address);

/// As above, with `missing` as the message when curl is not on this computer (what the user
/// can do instead depends on what the text was for).
std::expected<std::string, std::string> fetch_address(const CommandRunner& runner, std::string_view address,
                                                      std::string_view missing);

/// The host part of an address: after "https://" or "http://" (when present), up to the first
/// "/", "?" or "#". A port or user part stays; nothing is lower-cased.
std::string address_host(std::string_view address);

// ---- Shelves ----

/// One recipe a shelf lists: its file name and the address it lies at, next to the shelf.
struct ShelfRecipe {
  std::string file;
  std::string address;
  bool operator==(const ShelfRecipe&) const = default;
};

/// A shelf that passed every check.
struct Shelf {
  std::string name;
  std::vector<ShelfRecipe> recipes;
};

/// One recipe offered by a gathered shelf, with what the user can do about it.
struct ShelfOffer {
  enum class State {
    New,      ///< no added app has this id
    Added,    ///< the added app of this id has the same text
    Changed,  ///< the added app of this id has another text, or its file cannot be read
    Refused,  ///< not fetched, or not admitted: see `message`
  };
  std::string file;
  std::string address;
  std::string text;               ///< the fetched text ("" when the fetch failed)
  State state = State::Refused;
  std::optional<Recipe> recipe;  ///< the admitted recipe, unless refused
  std::string message;           ///< why it was refused
};

/// One remembered shelf as gathered: its address and either an error or its name and offers.
struct ShelfView {
  std::string address;
  std::optional<std::string> error;
  std::string name;
  std::vector<ShelfOffer> offers;
};

/// How many shelves one Zelk remembers at most.
inline constexpr std::size_t shelf_limit = 10;

/// Checks a shelf text; its recipes' addresses are made from `shelf_address`.
std::expected<Shelf, std::string> parse_shelf(std::string_view text, std::string_view shelf_address);

/// A name a shelf may list: a small letter or digit, then small letters, digits, ".", "_" and
/// "-", 1 to 60 bytes without "..", ending in ".yaml" or ".yml".
bool is_shelf_file_name(std::string_view name);

/// Fetches one shelf and checks it. Without curl the message says what can be done for a
/// shelf, which, unlike a recipe, cannot be added from a downloaded file.
std::expected<Shelf, std::string> fetch_shelf(const CommandRunner& runner, std::string_view address);

/// Whether two addresses name the same shelf: equal once each is without its "#fragment",
/// which never reaches the server.
bool same_shelf_address(std::string_view a, std::string_view b);

/// <home>/shelves.
std::filesystem::path shelves_path(const std::filesystem::path& home);

/// The remembered shelf addresses; the default shelf alone while the shelves file cannot be
/// read. Lines that are not fetchable addresses are skipped.
std::vector<std::string> shelf_addresses(const std::filesystem::path& home);

/// Writes the whole list, one address a line, or gives
/// "The list of shelves could not be written: <error>".
std::expected<void, std::string> write_shelf_addresses(const std::filesystem::path& home,
                                                       std::span<const std::string> addresses);

/// How long a whole gathering may take, by the clock `now`: once that time has passed, no
/// further shelf or recipe is fetched, and each one left out says so in its place.
struct GatherBudget {
  std::function<std::chrono::system_clock::time_point()> now;
  std::chrono::seconds total{0};
};

/// The time `zelk shelf` gives all its fetches together (10 shelves of 50 recipes could
/// otherwise take hours).
inline constexpr std::chrono::seconds shelf_listing_budget{120};

/// Fetches every remembered shelf and every recipe on it, one fetch after another, and checks
/// each recipe against the catalogue, within the budget when one is given. Never fails: every
/// failure is kept in its place.
std::vector<ShelfView> gather_shelves(const std::filesystem::path& home,
                                      const CommandRunner& runner,
                                      std::span<const Recipe> recipes,
                                      const GatherBudget* budget = nullptr);

/// Whether an address names a recipe on the maker's own shelf: it lies in the default shelf's
/// folder, is not the shelf's own list, and the rest is a shelf file name.
bool is_default_shelf_recipe(std::string_view address);

/// The text with every "\r\n" turned into "\n".
std::string unix_line_ends(std::string_view text);

}  // namespace zelk
