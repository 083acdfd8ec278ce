#include <optional>
#include <string>

#include "runtime.h"
#include "text_files.h"
#include "shelf.h"
#include "unicode.h"

namespace zelk {

namespace {

constexpr std::size_t address_size_limit = 300;
constexpr std::string_view https_prefix = "https://";
constexpr std::string_view http_prefix = "http://";

bool allowed_address_byte(unsigned char byte) {
  if (byte < 33 || byte > 126) return false;
  switch (byte) {
    case '"': case '\'': case '\\': case '<': case '>':
    case '`': case '{': case '}': case '|': case '^':
    // curl expands "{a,b}" and "[1-9]" into many requests; an address is one request only.
    case '[': case ']':
      return false;
    default:
      return true;
  }
}

// The part between "://" and the path, query or fragment: the host, with its port and any user.
std::string_view authority_of(std::string_view rest) { return rest.substr(0, rest.find_first_of("/?#")); }

// Plain http reaches this computer only: the name must end right there, or go on with a port
// or a path, so "localhost.example.org" never passes. No user part either: curl reads
// "127.0.0.1:x@host" as the user "127.0.0.1" with the password "x" on the other host.
bool is_local_plain_rest(std::string_view rest) {
  if (authority_of(rest).find('@') != std::string_view::npos) return false;
  for (std::string_view name : {std::string_view("127.0.0.1"), std::string_view("localhost")}) {
    if (!rest.starts_with(name)) continue;
    std::string_view after = rest.substr(name.size());
    if (after.empty() || after.front() == ':' || after.front() == '/') return true;
  }
  return false;
}

// What is written in place of a character an address cannot hold as it is: its bytes as
// "%XX", as a browser writes them.
std::string percent_encoded(std::string_view character) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : character) {
    const auto byte = static_cast<unsigned char>(c);
    encoded += '%';
    encoded += digits[byte >> 4];
    encoded += digits[byte & 0xF];
  }
  return encoded;
}

// Why the characters of the address keep it from being fetched, or none. The first character
// that is not taken decides, so the user learns what to change.
std::optional<std::string> character_refusal(std::string_view address) {
  // The host of a secure address, as bytes of the address: a letter other than ASCII there is
  // a name to be written in its "xn--" form, not a character to be percent-encoded.
  std::size_t host_end = 0;
  if (address.starts_with(https_prefix)) {
    host_end = https_prefix.size() + authority_of(address.substr(https_prefix.size())).size();
  }
  for (std::size_t at = 0; at < address.size();) {
    const CodePoint c = code_point_at(address, at);
    const std::string_view character = address.substr(at, c.size);
    const bool in_host = at >= https_prefix.size() && at < host_end;
    at += c.size;
    if (c.size == 1 && allowed_address_byte(static_cast<unsigned char>(character.front()))) continue;
    if (is_white_space(c.value)) {
      return "It holds a blank or a line break; in an address a blank is written \"%20\".";
    }
    if (is_control_character(c.value)) return std::string("It holds a control character.");
    if (in_host && c.value >= 0x80) {
      return std::string("Its host holds characters other than plain ASCII; write the host in its \"xn--\" form.");
    }
    if (in_host) return "Its host holds \"" + std::string(character) + "\", which no host name does.";
    return "It holds \"" + visible_text(character) + "\", which is written \"" + percent_encoded(character) +
           "\" in an address.";
  }
  return std::nullopt;
}

// Why the address is not fetched, or none when it is: the sentence after the address.
std::optional<std::string> refusal_reason(std::string_view address) {
  if (std::optional<std::string> refused = character_refusal(address)) return refused;
  // Every character is plain ASCII now, so bytes and characters are the same count.
  if (address.size() > address_size_limit) {
    return "It is longer than " + std::to_string(address_size_limit) + " characters.";
  }
  const std::string_view user_part = "It names a user before its host (\"@\"); the Zelk fetches without one.";
  if (address.starts_with(https_prefix)) {
    std::string_view host = authority_of(address.substr(https_prefix.size()));
    if (host.empty()) return std::string("It names no host after \"https://\".");
    if (host.front() == '-') return std::string("Its host starts with \"-\", which no host name does.");
    if (host.find('@') != std::string_view::npos) return std::string(user_part);
    return std::nullopt;
  }
  if (address.starts_with(http_prefix)) {
    std::string_view rest = address.substr(http_prefix.size());
    if (authority_of(rest).find('@') != std::string_view::npos) return std::string(user_part);
    if (is_local_plain_rest(rest)) return std::nullopt;
  }
  return std::string(
      "It starts with \"https://\"; plain \"http://\" is taken from this computer only (127.0.0.1 or "
      "localhost).");
}

// A refused address is shown to the user, who may have pasted a whole page by mistake: its
// first characters are enough to recognise it.
constexpr std::size_t shown_address_characters = 100;

}  // namespace

std::expected<void, std::string> check_web_address(std::string_view address) {
  const std::optional<std::string> reason = refusal_reason(address);
  if (!reason) return {};
  return std::unexpected("\"" + visible_text(shorten_text(address, shown_address_characters)) +
                         "\" is not an address the Zelk fetches. " + *reason);
}

std::vector<std::string> curl_arguments(std::string_view address, std::uint64_t max_filesize,
                                        int max_seconds, std::optional<std::string> output_file) {
  // Only the address's own scheme widens the protocols; a redirect must always go to https.
  std::string protocols = address.starts_with(https_prefix) ? "=https" : "=http,https";
  std::vector<std::string> args{"--fail",       "--silent",     "--show-error",
                                "--location",   "--max-redirs", "3",
                                "--proto",      protocols,      "--proto-redir",
                                "=https",       "--max-filesize", std::to_string(max_filesize),
                                "--max-time",   std::to_string(max_seconds)};
  if (output_file) {
    args.emplace_back("--output");
    args.push_back(std::move(*output_file));
  }
  args.emplace_back("--");
  args.emplace_back(address);
  return args;
}

std::expected<RunOutput, std::string> run_curl(const CommandRunner& runner, std::string_view address,
                                               const std::vector<std::string>& args,
                                               std::chrono::nanoseconds limit, std::string_view missing,
                                               const RunBounds& bounds, std::string_view too_large) {
  auto run = runner.run_captured_bounded("curl", args, limit, bounds);
  if (!run) {
    if (run.error().kind == RunError::Kind::NotFound) return std::unexpected(std::string(missing));
    if (run.error().kind == RunError::Kind::TooLarge) return std::unexpected(std::string(too_large));
    return std::unexpected(std::string(address) + " could not be fetched (" + fmt_run_error(run.error()) + ").");
  }
  if (!run->success()) {
    // curl's words for a redirect that --proto-redir refused read as a broken curl.
    if (run->exit_code == 1 && run->stderr_text.find("Protocol \"http\" not supported") != std::string::npos) {
      return std::unexpected(std::string(address) +
                             " leads on to a plain http address, which is not fetched: only https is.");
    }
    return std::unexpected(std::string(address) + " could not be fetched." + it_said_suffix(run->stderr_text));
  }
  return std::move(*run);
}

std::expected<std::string, std::string> fetch_address(const CommandRunner& runner,
                                                      std::string_view address) {
  return fetch_address(runner, address,
                       "The program \"curl\" is not on this computer; the Zelk fetches with it. Download the "
                       "file in your browser and add it from there.");
}

std::expected<std::string, std::string> fetch_address(const CommandRunner& runner, std::string_view address,
                                                      std::string_view missing) {
  if (auto checked = check_web_address(address); !checked) return std::unexpected(checked.error());
  // curl stops early only when the server announces the size; a body of unknown length is
  // measured as it comes, and curl is ended once it has passed the limit.
  const std::string too_large =
      std::string(address) + " is too large to be a recipe" + std::string(recipe_limit_words);
  auto run = run_curl(runner, address, curl_arguments(address, fetch_size_limit, fetch_curl_seconds),
                      fetch_run_limit, missing, RunBounds{.output_bytes = fetch_size_limit, .passed = {}}, too_large);
  if (!run) return std::unexpected(run.error());
  // The output is decoded text: a body of invalid bytes may have grown in the decoding.
  if (run->stdout_text.size() > fetch_size_limit) return std::unexpected(too_large);
  return std::move(run->stdout_text);
}

std::string address_host(std::string_view address) {
  std::string_view rest = address;
  if (rest.starts_with(https_prefix)) {
    rest.remove_prefix(https_prefix.size());
  } else if (rest.starts_with(http_prefix)) {
    rest.remove_prefix(http_prefix.size());
  }
  return std::string(rest.substr(0, rest.find_first_of("/?#")));
}

}  // namespace zelk
