#include "window_texts.h"

#include <vector>

#include "runner.h"
#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

bool is_partly_running(const AppState& status) {
  return status.kind == AppState::Kind::State && status.text == "partly running";
}

// The longest message the status line shows, in characters.
constexpr std::size_t short_line_characters = 90;

constexpr std::string_view said_lead = "It said: ";
constexpr std::string_view cut_mark = "...";

// The characters of the text, each as its bytes (a byte that is not well-formed UTF-8 as U+FFFD).
std::vector<std::string> characters_of(std::string_view text) {
  std::vector<std::string> characters;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint c = code_point_at(text, at);
    characters.push_back(c.value == 0xFFFD && c.size == 1 ? std::string("\xEF\xBF\xBD")
                                                          : std::string(text.substr(at, c.size)));
    at += c.size;
  }
  return characters;
}

// "It said: <cause>" in at most 90 characters: a longer cause loses its beginning, since a
// program's error line ends with the reason ("...: bind: address already in use").
std::string said_line(std::string_view cause) {
  const std::vector<std::string> characters = characters_of(cause);
  std::string line(said_lead);
  const std::size_t room = short_line_characters - said_lead.size();
  std::size_t first = 0;
  if (characters.size() > room) {
    line += cut_mark;
    first = characters.size() - (room - cut_mark.size());
  }
  for (std::size_t i = first; i < characters.size(); ++i) line += characters[i];
  return line;
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

std::string first_line_short(std::string_view text) {
  std::string_view line;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view candidate = text.substr(start, end - start);
    if (!candidate.empty() && candidate.back() == '\r') candidate.remove_suffix(1);
    candidate = trim_white_space(candidate);
    if (!candidate.empty()) {
      line = candidate;
      break;
    }
    start = end + 1;
  }
  // Characters are counted and copied one scalar value at a time; a byte that is not
  // well-formed UTF-8 becomes U+FFFD, so a cut never splits a character.
  std::string shown;
  shown.reserve(line.size() + 4);
  std::size_t characters = 0;
  std::size_t at = 0;
  while (at < line.size() && characters < short_line_characters) {
    const CodePoint c = code_point_at(line, at);
    if (c.value == 0xFFFD && c.size == 1) {
      shown.append("\xEF\xBF\xBD");
    } else {
      shown.append(line.substr(at, c.size));
    }
    at += c.size;
    ++characters;
  }
  if (at < line.size()) shown.append(" ...");
  return shown;
}

std::string command_error_note(std::string_view name, std::string_view error) {
  std::string first = first_line_short(error);
  std::string note = first.starts_with(name) ? std::move(first) : std::string(name) + ": " + first;
  // The quoted cause is the last "It said:" line: the message ends with it.
  std::string_view cause;
  for_each_output_line(error, [&](std::string_view line) {
    line = trim_white_space(line);
    if (line.starts_with(said_lead)) cause = trim_white_space(line.substr(said_lead.size()));
  });
  if (!cause.empty()) note += "\n" + said_line(cause);
  return note;
}

ItemLook update_item_text(const std::optional<KnownUpdate>& update) {
  if (!update) return {"Look for a newer version", true};
  if (update->installing) return {"Updating ...", false};
  return {"Update to version " + update->offer.version, true};
}

}  // namespace zelk
