#include "update.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <system_error>

#include "addresses.h"
#include "device_names.h"
#include "files.h"
#include "lines.h"
#include "platform.h"
#include "runner.h"
#include "sha256.h"
#include "shelf.h"
#include "unicode.h"
#include "utf8.h"

namespace zelk {

namespace {

constexpr std::size_t version_text_limit = 40;
constexpr std::size_t installer_name_limit = 120;
constexpr int download_curl_seconds = 840;
constexpr std::chrono::seconds download_run_limit{900};

const std::string unreadable_list = "The list of versions on the website is not one this Zelk can read.";

// Without curl neither the list nor the installer can be fetched: the new version comes from
// the maker's download page instead.
std::string curl_missing() {
  return "The program \"curl\" is not on this computer; the Zelk fetches with it. Get the newest Zelk from " +
         std::string(download_page_address);
}

// The next line that says something: trimmed, not empty and not a "#" comment. Advances
// `at` past it in the text's lines (split_lines); none at the end of the text.
std::optional<std::string_view> next_list_line(std::span<const std::string_view> lines, std::size_t& at) {
  while (at < lines.size()) {
    const std::string_view line = trim_white_space(lines[at++]);
    if (!line.empty() && line.front() != '#') return line;
  }
  return std::nullopt;
}

// The words of a line, split at runs of white space.
std::vector<std::string_view> split_fields(std::string_view line) { return split_white_space(line); }

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number made of digits only that fits 64 bits.
std::optional<std::uint64_t> read_decimal(std::string_view text) {
  if (!all_digits(text)) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool is_sha256_text(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

bool is_ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The installer's name ends up in a path and an address: no folder parts, no option look, and
// no name Windows keeps for a device, where no file can be written.
bool is_installer_name(std::string_view name) {
  if (name.empty() || name.size() > installer_name_limit) return false;
  if (name.front() == '.' || name.front() == '-' || is_device_name(name)) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return is_ascii_alnum(c) || c == '-' || c == '.' || c == '_'; });
}

std::vector<std::string_view> split_dots(std::string_view text) {
  std::vector<std::string_view> parts;
  while (true) {
    std::size_t dot = text.find('.');
    parts.push_back(text.substr(0, dot));
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts;
}

// Pre-release parts: numbers compare as numbers and below every other part; other parts
// compare byte by byte. Gives <0, 0 or >0.
int compare_pre_part(std::string_view a, std::string_view b) {
  auto number_a = read_decimal(a);
  auto number_b = read_decimal(b);
  if (number_a && number_b) return *number_a < *number_b ? -1 : (*number_a > *number_b ? 1 : 0);
  if (number_a) return -1;
  if (number_b) return 1;
  return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
}

// Deletes a file that failed a check; a failure to delete changes nothing in the message.
void discard(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

std::string oversized_download(const UpdateOffer& offer) {
  return "The fetched file is larger than the " + std::to_string(offer.size) +
         " bytes it should have. It was deleted; nothing was changed.";
}

std::string unreadable_download(const std::filesystem::path& path, const std::string& error) {
  return "The fetched file " + path_to_utf8(path) + " could not be read for its checks: " + error +
         ". It was deleted; nothing was changed.";
}

}  // namespace

std::string update_list_address() {
  if (auto value = get_unicode_env("ZELK_UPDATE_ADDRESS"); value && !value->empty()) {
    return *value;
  }
  return std::string(builtin_update_list_address);
}

bool is_version_text(std::string_view text) {
  if (text.empty() || text.size() > version_text_limit) return false;
  if (text.front() < '0' || text.front() > '9') return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return is_ascii_alnum(c) || c == '.' || c == '-'; });
}

VersionNumber parse_version(std::string_view text) {
  VersionNumber version;
  std::size_t dash = text.find('-');
  for (std::string_view part : split_dots(text.substr(0, dash))) {
    version.numbers.push_back(read_decimal(part).value_or(0));
  }
  if (dash != std::string_view::npos) {
    for (std::string_view part : split_dots(text.substr(dash + 1))) version.pre.emplace_back(part);
  }
  return version;
}

bool is_newer_version(std::string_view candidate, std::string_view running) {
  const VersionNumber a = parse_version(candidate);
  const VersionNumber b = parse_version(running);
  const std::size_t count = std::max(a.numbers.size(), b.numbers.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t x = i < a.numbers.size() ? a.numbers[i] : 0;
    std::uint64_t y = i < b.numbers.size() ? b.numbers[i] : 0;
    if (x != y) return x > y;
  }
  if (a.pre.empty() || b.pre.empty()) return a.pre.empty() && !b.pre.empty();
  const std::size_t shared = std::min(a.pre.size(), b.pre.size());
  for (std::size_t i = 0; i < shared; ++i) {
    if (int order = compare_pre_part(a.pre[i], b.pre[i]); order != 0) return order > 0;
  }
  return a.pre.size() > b.pre.size();
}

std::expected<std::optional<UpdateOffer>, std::string> read_version_list(
    std::string_view text, std::string_view running_version, std::string_view platform_word) {
  const std::vector<std::string_view> lines = split_lines(text);
  std::size_t at = 0;
  auto first = next_list_line(lines, at);
  if (!first) return std::unexpected(unreadable_list);
  auto header = split_fields(*first);
  if (header.size() != 2 || header[0] != "format" || header[1] != "1") {
    if (!header.empty() && header[0] == "format") {
      return std::unexpected(
          "The website's list of versions is written for a newer Zelk than this one. Get the "
          "newest Zelk from " + std::string(download_page_address));
    }
    return std::unexpected(unreadable_list);
  }
  while (auto line = next_list_line(lines, at)) {
    auto words = split_fields(*line);
    if (words.front() != platform_word) continue;
    // The first line for this platform decides, sound or not.
    if (words.size() != 5) return std::unexpected(unreadable_list);
    auto size = read_decimal(words[2]);
    if (!size || *size < 1 || *size > installer_size_limit || !is_sha256_text(words[3]) ||
        !is_version_text(words[1]) || !is_installer_name(words[4])) {
      return std::unexpected(unreadable_list);
    }
    UpdateOffer offer{.version = std::string(words[1]),
                      .file = std::string(words[4]),
                      .sha256 = std::string(words[3]),
                      .size = *size};
    if (!is_newer_version(offer.version, running_version)) return std::optional<UpdateOffer>();
    return std::optional<UpdateOffer>(std::move(offer));
  }
  return std::optional<UpdateOffer>();
}

std::expected<std::optional<UpdateOffer>, std::string> check_for_update(
    const CommandRunner& runner, std::string_view running_version) {
  auto text = fetch_address(runner, update_list_address(), curl_missing());
  if (!text) return std::unexpected(text.error());
  return read_version_list(*text, running_version);
}

std::filesystem::path update_folder(const std::filesystem::path& home) { return home / "update"; }

std::string installer_address(std::string_view list_address, std::string_view file) {
  std::size_t scheme_end = list_address.find("://");
  std::size_t host_start = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
  std::size_t host_end = list_address.find('/', host_start);
  return std::string(list_address.substr(0, host_end)) + "/downloads/" + std::string(file);
}

std::expected<std::filesystem::path, std::string> download_update(const std::filesystem::path& home,
                                                                  const CommandRunner& runner,
                                                                  const UpdateOffer& offer) {
  const std::string address = installer_address(update_list_address(), offer.file);
  if (auto checked = check_web_address(address); !checked) return std::unexpected(checked.error());

  const std::filesystem::path folder = update_folder(home);
  const std::filesystem::path file = folder / path_from_utf8(offer.file);
  // curl is handed the file's name as text: a data folder whose name is not valid Unicode
  // (possible on Windows) has none.
  const std::optional<std::string> file_text = path_to_utf8_exact(file);
  if (!file_text) {
    return std::unexpected(path_to_utf8(folder) + " could not be created: its name is not valid Unicode. Set "
                           "ZELK_HOME to a folder whose name is.");
  }
  std::error_code error;
  std::filesystem::remove_all(folder, error);  // leftovers of an earlier download
  if (auto made = make_data_folder(home, "update"); !made) {
    return std::unexpected(path_to_utf8(folder) + " could not be created: " + made.error());
  }

  // curl's own size switch holds only when the server announces the length: the growing file
  // is watched, and curl ended once it is past the size the list names.
  const auto past_size = [&file, size = offer.size] {
    std::error_code ignored;
    const std::uintmax_t written = std::filesystem::file_size(file, ignored);
    return !ignored && written > size;
  };
  auto run = run_curl(runner, address, curl_arguments(address, installer_size_limit, download_curl_seconds, *file_text),
                      download_run_limit, curl_missing(), RunBounds{.passed = past_size}, oversized_download(offer));
  if (!run) {
    discard(file);
    return std::unexpected(run.error());
  }

  error.clear();
  const std::uintmax_t actual = std::filesystem::file_size(file, error);
  if (error) {
    discard(file);
    return std::unexpected(unreadable_download(file, error_code_text(error)));
  }
  if (actual != offer.size) {
    discard(file);
    return std::unexpected("The fetched file has " + std::to_string(actual) + " bytes and should have " +
                           std::to_string(offer.size) + ". It was deleted; nothing was changed.");
  }
  auto digest = sha256_file_hex(file);
  if (!digest) {
    discard(file);
    return std::unexpected(unreadable_download(file, digest.error()));
  }
  if (*digest != offer.sha256) {
    discard(file);
    return std::unexpected(
        "The fetched file is not the one the website names: its SHA-256 differs. It was deleted; "
        "nothing was changed.");
  }
  return file;
}

std::vector<std::string> installer_arguments(bool tray) {
  std::vector<std::string> args{"/VERYSILENT", "/SUPPRESSMSGBOXES", "/NORESTART"};
  if (tray) args.emplace_back("/TRAY=window");
  return args;
}

std::expected<void, std::string> launch_installer(const std::filesystem::path& path, bool tray,
                                                  const InstallerStarter& starter) {
  if (starter(path, tray, installer_flags_breakaway)) return {};
  // Breaking away from a job is refused when the job forbids it; a plain detached start is
  // the next best thing.
  auto second = starter(path, tray, installer_flags_plain);
  if (second) return {};
  return std::unexpected("The installer could not be started: " + second.error());
}

}  // namespace zelk
