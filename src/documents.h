#pragma once
/// The four JSON documents the program hands to its page: the state of everything (render),
/// the shelves and their offers (shelves), the result of a preview or an add (outcome) and the
/// passwords made for an app (made). Each is one JSON object without white space, keys in a
/// fixed order, built whole from plain values each time it is sent; the page replaces what it
/// shows with it. The builders read nothing and keep nothing, so they run anywhere.

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "apps.h"
#include "envfile.h"
#include "recipe.h"
#include "shelf.h"
#include "window_texts.h"

namespace zelk {

/// The text as a quoted JSON string. Every character (Unicode scalar value) is written as it
/// is, UTF-8 encoded, except: '"' and '\' get a backslash; "<" becomes \u003c (so no text can
/// close a script element); characters below U+0020, U+2028 and U+2029 become \u and four
/// lower-case hexadecimal digits. A byte that is not part of well-formed UTF-8 reads as U+FFFD,
/// so the result is valid JSON, and valid JavaScript, whatever bytes came in.
std::string json_text(std::string_view text);

/// "null" for none, else json_text.
std::string json_text_or_null(const std::optional<std::string>& text);

/// One app as the page shows it: its recipe, the last progress line of its running command,
/// its address ("" before the first states read), its state (Kind::Unknown while not read)
/// and the word of the command running for it.
struct AppRow {
  const Recipe* recipe;
  std::string message;
  std::string address;
  AppState state;
  std::optional<std::string> busy;
};

/// The names of the apps the recipe starts before itself: for each id of its uses list, the
/// name of the first row's recipe with that id, or the id itself. Nothing when the recipe does
/// not start the apps it uses.
std::vector<std::string> used_app_names(const Recipe& recipe, std::span<const AppRow> rows);

/// One app object of the render document (22 keys); `rows` are all apps, for the names of
/// the apps it uses.
std::string app_object(const AppRow& row, std::span<const AppRow> rows);

/// What the render document is made of. The caller looks up `podman_desktop_found`
/// (find_podman_desktop) and `shelf_count` (shelf_addresses) at every render.
/// The shelf requests the program has taken, as the page words that asked for them: the one
/// under way, and the ones waiting their turn in order.
struct ShelfWork {
  std::string working;
  std::vector<std::string> waiting;
};

struct RenderSnapshot {
  std::string status_line;
  std::string runtime_name;
  std::optional<bool> runtime_ok;
  bool podman_desktop_found = false;
  std::vector<AppRow> apps;
  std::size_t shelf_count = 0;
  std::optional<KnownUpdate> update;
  std::optional<ShelfWork> shelf_work;
};

/// The render document: version, note, runtime, runtimeOk, terminal, setup, desktop, apps,
/// shelves, update, shelfWork (null when no shelf request is under way, else working and
/// waiting).
std::string render_document(const RenderSnapshot& snapshot);

/// The shelves document: the caller's problem (or null), one object per shelf with its offers
/// (13 keys each), and the page word of the request it answers (or null).
std::string shelves_document(const std::optional<std::string>& problem, std::span<const ShelfView> shelves,
                             const std::optional<std::string>& answers = std::nullopt);

/// The outcome document of the page words "preview" and "add": the recipe's name, description,
/// the warning and whether it replaces an added recipe; or the message why it was refused.
std::string build_outcome(std::string_view word, const std::expected<Admission, std::string>& result);

/// One password made for an app: the setting's name and its value.
struct MadeItem {
  std::string key;
  std::string value;
};

/// The secrets the recipe uses, in their order, that have a line in the settings text.
std::vector<MadeItem> made_items(const Recipe& recipe, std::string_view settings_text);

/// The made document: the recipe's name, the settings file as shown, and the items.
std::string made_document(std::string_view name, std::string_view file, std::span<const MadeItem> items);

/// The one-line script that hands a document to a page function: "<function>(<document>)",
/// for example page_script("render", document).
std::string page_script(std::string_view function, std::string_view document);

}  // namespace zelk
