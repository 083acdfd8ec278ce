#include "documents.h"

#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

constexpr std::string_view hex_digits = "0123456789abcdef";

std::string_view json_bool(bool value) { return value ? "true" : "false"; }

std::string json_count(std::size_t value) { return std::to_string(value); }

// Writes objects key by key, in the order the calls come, with nothing between tokens.
class ObjectWriter {
 public:
  ObjectWriter() : text_("{") {}
  ObjectWriter& raw(std::string_view key, std::string_view value) {
    if (text_.size() > 1) text_.push_back(',');
    text_.push_back('"');
    text_.append(key);  // keys are this program's own ASCII words
    text_.append("\":");
    text_.append(value);
    return *this;
  }
  ObjectWriter& text(std::string_view key, std::string_view value) { return raw(key, json_text(value)); }
  ObjectWriter& optional_text(std::string_view key, const std::optional<std::string>& value) {
    return raw(key, json_text_or_null(value));
  }
  ObjectWriter& boolean(std::string_view key, bool value) { return raw(key, json_bool(value)); }
  ObjectWriter& count(std::string_view key, std::size_t value) { return raw(key, json_count(value)); }
  std::string done() {
    text_.push_back('}');
    return std::move(text_);
  }

 private:
  std::string text_;
};

template <typename Items, typename Write>
std::string json_list(const Items& items, Write write) {
  std::string text = "[";
  bool first = true;
  for (const auto& item : items) {
    if (!first) text.push_back(',');
    first = false;
    text.append(write(item));
  }
  text.push_back(']');
  return text;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text.append(separator);
    text.append(parts[i]);
  }
  return text;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool is_installed(const AppState& state) {
  return state.kind != AppState::Kind::Unknown && state.kind != AppState::Kind::NotInstalled;
}

std::string update_object(const KnownUpdate& update) {
  return ObjectWriter()
      .text("version", update.offer.version)
      .boolean("busy", update.installing)
      .optional_text("problem", update.problem)
      .done();
}

std::string_view offer_state_word(ShelfOffer::State state) {
  switch (state) {
    case ShelfOffer::State::New: return "new";
    case ShelfOffer::State::Added: return "added";
    case ShelfOffer::State::Changed: return "changed";
    case ShelfOffer::State::Refused: return "refused";
  }
  return "refused";
}

std::optional<std::string> recipe_field(const ShelfOffer& offer, std::string Recipe::*field) {
  if (!offer.recipe) return std::nullopt;
  return (*offer.recipe).*field;
}

std::string offer_object(const ShelfOffer& offer) {
  const bool own = is_default_shelf_recipe(offer.address);
  const bool refused = offer.state == ShelfOffer::State::Refused;
  return ObjectWriter()
      .text("file", offer.file)
      .text("address", offer.address)
      .boolean("own", own)
      .text("from", address_host(offer.address))
      .text("trust", own ? "It comes from the Zelk's own shelf. The Zelk team tries every recipe before it "
                           "is put there."
                         : "The Zelk team did not review it. Install it only if you trust who gave you the "
                           "address: it runs a program on this computer.")
      .optional_text("id", recipe_field(offer, &Recipe::id))
      .optional_text("name", recipe_field(offer, &Recipe::name))
      .optional_text("category", recipe_field(offer, &Recipe::category))
      .optional_text("summary", recipe_field(offer, &Recipe::summary))
      .count("helpers", offer.recipe ? offer.recipe->helpers.size() : 0)
      .optional_text("shows", offer.recipe ? std::optional(describe_recipe(*offer.recipe)) : std::nullopt)
      .text("state", offer_state_word(offer.state))
      .optional_text("problem", refused ? std::optional(offer.message) : std::nullopt)
      .done();
}

std::string shelf_object(const ShelfView& shelf) {
  ObjectWriter object;
  object.text("address", shelf.address);
  if (shelf.error) {
    return object.raw("name", "null").text("problem", *shelf.error).raw("recipes", "[]").done();
  }
  return object.text("name", shelf.name)
      .raw("problem", "null")
      .raw("recipes", json_list(shelf.offers, offer_object))
      .done();
}

}  // namespace

std::string json_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (c.value == '"') {
      out.append("\\\"");
    } else if (c.value == '\\') {
      out.append("\\\\");
    } else if (c.value == '<' || c.value < 0x20 || c.value == 0x2028 || c.value == 0x2029) {
      out.append("\\u");
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(hex_digits[(c.value >> shift) & 0xF]);
    } else if (c.value == 0xFFFD && c.size == 1) {
      out.append("\xEF\xBF\xBD");  // a byte that is not well-formed UTF-8
    } else {
      out.append(text.substr(at, c.size));
    }
    at += c.size;
  }
  out.push_back('"');
  return out;
}

std::string json_text_or_null(const std::optional<std::string>& text) {
  return text ? json_text(*text) : std::string("null");
}

std::vector<std::string> used_app_names(const Recipe& recipe, std::span<const AppRow> rows) {
  std::vector<std::string> names;
  if (!recipe.starts_used) return names;
  for (const std::string& id : recipe.uses) {
    std::string name = id;
    for (const AppRow& row : rows) {
      if (row.recipe->id == id) {
        name = row.recipe->name;
        break;
      }
    }
    names.push_back(std::move(name));
  }
  return names;
}

std::string app_object(const AppRow& row, std::span<const AppRow> rows) {
  const Recipe& recipe = *row.recipe;
  const AppState& state = row.state;
  const bool busy = row.busy.has_value();
  const bool installed = is_installed(state);
  std::string status;
  if (busy && !row.message.empty()) {
    status = row.message;
  } else {
    status = app_status_word(state, row.busy).value_or("not known");
  }
  std::string_view tone = "off";
  if (busy || state.kind == AppState::Kind::Starting) {
    tone = "busy";
  } else if (state.kind == AppState::Kind::Ready) {
    tone = "ready";
  }
  return ObjectWriter()
      .text("id", recipe.id)
      .text("name", recipe.name)
      .text("category", recipe.category)
      .text("summary", recipe.summary)
      .text("status", status)
      .text("tone", tone)
      .text("address", row.address)
      .text("open", open_label(state))
      .boolean("installed", installed)
      .boolean("reviewed", recipe.built_in)
      .boolean("own", is_default_shelf_recipe(recipe.from))
      .text("from", address_host(recipe.from))
      .text("uses", joined(used_app_names(recipe, rows), ", "))
      .count("helpers", recipe.helpers.size())
      .boolean("canOpen", !busy)
      .boolean("canStop", !busy && can_stop(state))
      .boolean("canRemove", !busy && state.kind == AppState::Kind::State)
      .boolean("canForget", !busy && can_forget(recipe.built_in, state))
      .boolean("passwords", installed && !recipe.built_in && !secrets_in_use(recipe).empty())
      .text("lesson", recipe.lesson.value_or(""))
      .boolean("canModel", !busy && recipe.built_in && (recipe.id == "ollama" || recipe.id == "open-webui"))
      .boolean("canBackup", !busy && installed)
      .done();
}

std::string render_document(const RenderSnapshot& snapshot) {
  std::string note = snapshot.status_line;
  if (snapshot.runtime_ok == false) {
    // While no runtime works the page shows a set-up button, so the advice points at it.
    note = replace_all(std::move(note), "Run: zelk setup", "Press \"Set up Podman\".");
    note = replace_all(std::move(note), "run: zelk setup", "press \"Set up Podman\".");
  }
  std::string_view desktop;
  if (snapshot.runtime_name == "Podman") desktop = snapshot.podman_desktop_found ? "open" : "install";
  const std::span<const AppRow> rows = snapshot.apps;
  return ObjectWriter()
      .text("version", zelk_version)
      .text("note", note)
      .text("runtime", snapshot.runtime_name)
      .raw("runtimeOk", snapshot.runtime_ok ? json_bool(*snapshot.runtime_ok) : "null")
      .boolean("terminal", true)
      .boolean("setup", snapshot.runtime_ok == false)
      .text("desktop", desktop)
      .raw("apps", json_list(rows, [rows](const AppRow& row) { return app_object(row, rows); }))
      .count("shelves", snapshot.shelf_count)
      .raw("update", snapshot.update ? update_object(*snapshot.update) : std::string("null"))
      .raw("shelfWork", snapshot.shelf_work ? ObjectWriter()
                                                  .text("working", snapshot.shelf_work->working)
                                                  .raw("waiting", json_list(snapshot.shelf_work->waiting, json_text))
                                                  .done()
                                            : std::string("null"))
      .done();
}

std::string shelves_document(const std::optional<std::string>& problem, std::span<const ShelfView> shelves,
                             const std::optional<std::string>& answers) {
  return ObjectWriter()
      .optional_text("problem", problem)
      .raw("shelves", json_list(shelves, shelf_object))
      .optional_text("answers", answers)
      .done();
}

std::string build_outcome(std::string_view word, const std::expected<Admission, std::string>& result) {
  ObjectWriter object;
  object.text("kind", word);
  if (!result) return object.boolean("ok", false).text("error", result.error()).done();
  return object.boolean("ok", true)
      .text("name", result->recipe.name)
      .text("shows", describe_recipe(result->recipe))
      .text("warning", "Nobody has reviewed this recipe. It runs a program from the image named above: add it "
                       "only if you trust who gave it to you.")
      .boolean("replaces", result->replaces)
      .done();
}

std::vector<MadeItem> made_items(const Recipe& recipe, std::string_view settings_text) {
  std::vector<MadeItem> items;
  for (const auto& [name, length] : secrets_in_use(recipe)) {
    // A settings file may come from someone else's backup: its values are shown as text.
    if (std::optional<std::string> value = setting_value(settings_text, name)) {
      items.push_back({name, visible_text(*value)});
    }
  }
  return items;
}

std::string made_document(std::string_view name, std::string_view file, std::span<const MadeItem> items) {
  return ObjectWriter()
      .text("name", name)
      .text("file", file)
      .raw("items", json_list(items,
                              [](const MadeItem& item) {
                                return ObjectWriter().text("key", item.key).text("value", item.value).done();
                              }))
      .done();
}

std::string page_script(std::string_view function, std::string_view document) {
  std::string script;
  script.reserve(function.size() + document.size() + 2);
  script.append(function).append("(").append(document).append(")");
  return script;
}

}  // namespace zelk
