#include "window_texts.h"

#include "lines.h"
#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

bool is_partly_running(const AppState& status) {
  return status.kind == AppState::Kind::State && status.text == "partly running";
}

// The longest line the tray menu's status item and an app's progress show, in characters.
constexpr std::size_t short_line_characters = 90;

constexpr std::string_view said_lead = "It said: ";

// The text with each byte that is not part of well-formed UTF-8 as U+FFFD, so that every
// character counts once and nothing invalid reaches the page or the menu.
std::string valid_text(std::string_view text) {
  std::string valid;
  valid.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    if (c.value == 0xFFFD && c.size == 1) {
      valid.append("\xEF\xBF\xBD");
    } else {
      valid.append(text.substr(at, c.size));
    }
    at += c.size;
  }
  return valid;
}

}  // namespace

std::string program_title() { return "Valdroven AI Zelk " + std::string(zelk_version); }

std::optional<std::string> app_status_word(const AppState& status, const std::optional<std::string>& busy) {
  if (busy) {
    if (*busy == "stop") return "stopping ...";
    if (*busy == "remove") return "removing ...";
    if (*busy == "model") return "fetching a model ...";
    if (*busy == "backup") return "backing up ...";
    return "starting ...";
  }
  switch (status.kind) {
    case AppState::Kind::Unknown: return std::nullopt;
    case AppState::Kind::NotInstalled: return "not installed";
    case AppState::Kind::Starting: return "starting ...";
    case AppState::Kind::Ready: return "running";
    case AppState::Kind::State: return is_partly_running(status) ? "partly running" : "stopped";
  }
  return std::nullopt;
}

std::string open_label(const AppState& status) {
  switch (status.kind) {
    case AppState::Kind::Ready: return "Open";
    case AppState::Kind::NotInstalled: return "Install and open";
    default: return "Start and open";
  }
}

bool can_stop(const AppState& status) {
  return status.kind == AppState::Kind::Starting || status.kind == AppState::Kind::Ready ||
         is_partly_running(status);
}

bool can_forget(bool built_in, const AppState& status) {
  return !built_in && status.kind == AppState::Kind::NotInstalled;
}

std::string first_line(std::string_view text) {
  for (const std::string_view line : split_lines(text)) {
    const std::string_view candidate = trim_white_space(line);
    if (!candidate.empty()) return valid_text(candidate);
  }
  return {};
}

std::string first_line_short(std::string_view text) { return shorten_text(first_line(text), short_line_characters); }

std::string tray_line(std::string_view text) {
  // A menu item shows one line; a tab in it would start the item's shortcut column.
  std::string line = first_line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return shorten_text(line, short_line_characters);
}

std::string command_error_note(std::string_view name, std::string_view error) {
  std::string first = first_line(error);
  std::string note = first.starts_with(name) ? std::move(first) : std::string(name) + ": " + first;
  // The quoted cause is the last "It said:" line: the message ends with it.
  std::string_view cause;
  for (std::string_view line : split_lines(error)) {
    line = trim_white_space(line);
    if (line.starts_with(said_lead)) cause = trim_white_space(line.substr(said_lead.size()));
  }
  if (!cause.empty()) note += "\n" + std::string(said_lead) + valid_text(cause);
  return note;
}

ItemLook update_item_text(const std::optional<KnownUpdate>& update) {
  if (!update) return {"Look for a newer version", true};
  if (update->installing) return {"Updating ...", false};
  return {"Update to version " + update->offer.version, true};
}

}  // namespace zelk
