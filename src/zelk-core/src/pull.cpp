#include "pull.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "lines.h"
#include "unicode.h"
#include "utf8.h"

namespace zelk {

namespace {

constexpr std::chrono::seconds progress_interval{3};
constexpr std::chrono::seconds find_api_limit{20};
constexpr std::string_view pipe_prefix = "\\\\.\\pipe\\";
constexpr std::string_view unix_prefix = "true unix://";
constexpr std::string_view bare_prefix = "true /";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// Reads the answer line by line through a buffer of 8192 bytes. A line ends at "\n" with a
// "\r" before it dropped; the last piece before the end of the stream is a line too.
class LineReader {
 public:
  explicit LineReader(ApiStream& stream) : stream_(stream) {}

  /// The next line, none at the end of the stream, or the failure of a read.
  std::expected<std::optional<std::string>, std::string> next() {
    while (!ended_) {
      if (const std::optional<std::string_view> line = lines_.next()) return finish(*line);
      auto got = stream_.read_some(buffer_);
      if (!got) return std::unexpected(got.error());
      if (*got == 0) {
        ended_ = true;
        break;
      }
      lines_.add(std::string_view(buffer_.data(), *got));
    }
    const std::string last = lines_.rest();
    if (last.empty()) return std::optional<std::string>{};
    return finish(last);
  }

 private:
  static std::expected<std::optional<std::string>, std::string> finish(std::string_view line) {
    line = without_carriage_return(line);
    if (!is_valid_utf8(line)) return std::unexpected("a line of the answer is not UTF-8");
    return std::optional<std::string>(line);
  }

  ApiStream& stream_;
  std::array<char, 8192> buffer_{};
  LineCutter lines_;
  bool ended_ = false;
};

// The second word of an HTTP status line.
std::string_view status_word(std::string_view line) {
  for (int word = 0; word < 2; ++word) {
    while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
    std::size_t end = 0;
    while (end < line.size() && !is_space(line[end])) ++end;
    if (word == 1) return line.substr(0, end);
    line.remove_prefix(end);
  }
  return {};
}

// "\"<key>\"" and the rest, built by appending (g++ 12 warns falsely on chained + here).
std::string quoted_key(std::string_view key, std::string_view rest) {
  std::string needle;
  needle.reserve(key.size() + rest.size() + 2);
  needle.push_back('"');
  needle.append(key);
  needle.push_back('"');
  needle.append(rest);
  return needle;
}

PullLayer& layer_with_id(std::vector<PullLayer>& layers, const std::string& id) {
  for (PullLayer& layer : layers) {
    if (layer.id == id) return layer;
  }
  layers.push_back(PullLayer{id, 0, false, 0});
  return layers.back();
}

void apply_status(std::vector<PullLayer>& layers, std::string_view line) {
  const std::optional<std::string> id = json_text_field(line, "id");
  const std::optional<std::string> status = json_text_field(line, "status");
  if (!id || !status) return;
  PullLayer& layer = layer_with_id(layers, *id);
  if (*status == "Downloading") {
    if (auto current = json_number_field(line, "current")) layer.current = *current;
    if (auto total = json_number_field(line, "total")) {
      layer.total = *total;
      layer.total_known = true;
    }
  } else if (*status == "Download complete" || *status == "Already exists" || *status == "Pull complete") {
    const std::uint64_t value = layer.total_known ? layer.total : layer.current;
    layer.total_known = true;
    layer.total = value;
    layer.current = value;
  }
}

// The value of "<key>":"..." with the escapes of JSON decoded (a \\u escape stays as written):
// the runtimes' error texts quote addresses with \\".
std::optional<std::string> json_string_field(std::string_view line, std::string_view key) {
  const std::string needle = quoted_key(key, ":\"");
  const std::size_t at = line.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  std::string value;
  for (std::size_t i = at + needle.size(); i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') return value;
    if (c != '\\' || i + 1 == line.size()) {
      value.push_back(c);
      continue;
    }
    const char escaped = line[++i];
    switch (escaped) {
      case 'n': value.push_back('\n'); break;
      case 't': value.push_back('\t'); break;
      case 'r': value.push_back('\r'); break;
      case 'u': value.append("\\u"); break;
      default: value.push_back(escaped); break;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> find_podman_api(const CommandContext& ctx) {
  std::vector<std::string> args;
  if (ctx.platform == "windows") {
    args = {"machine", "inspect", "--format", "{{.ConnectionInfo.PodmanPipe.Path}}"};
  } else if (ctx.platform == "macos") {
    args = {"machine", "inspect", "--format", "{{.ConnectionInfo.PodmanSocket.Path}}"};
  } else {
    args = {"info", "--format", "{{.Host.RemoteSocket.Exists}} {{.Host.RemoteSocket.Path}}"};
  }
  auto run = ctx.runner.run_captured("podman", args, find_api_limit);
  if (!run || !run->success()) return std::nullopt;
  const std::string_view out = trim_white_space(run->stdout_text);
  if (ctx.platform == "windows") {
    if (!out.starts_with(pipe_prefix)) return std::nullopt;
    return std::string(out);
  }
  if (ctx.platform == "macos") {
    if (!out.starts_with("/")) return std::nullopt;
    return std::string(out);
  }
  // Podman writes the socket as an address ("unix:///run/...") in some versions and as a bare
  // path in others (4.3 here); both name the same socket.
  if (out.starts_with(unix_prefix)) return std::string(out.substr(unix_prefix.size()));
  if (out.starts_with(bare_prefix)) return std::string(out.substr(bare_prefix.size() - 1));
  return std::nullopt;
}

ImageReferenceParts split_image_reference(std::string_view reference) {
  if (const std::size_t at = reference.find('@'); at != std::string_view::npos) {
    return {reference.substr(0, at), reference.substr(at + 1)};
  }
  if (const std::size_t colon = reference.rfind(':'); colon != std::string_view::npos) {
    if (reference.substr(colon).find('/') == std::string_view::npos) {
      return {reference.substr(0, colon), reference.substr(colon + 1)};
    }
  }
  return {reference, "latest"};
}

namespace {

std::string query_value(std::string_view text) {
  // A reference's own ":", "/" and "@" mean nothing special in a query's value; everything else
  // outside the unreserved characters is sent as "%XX", so that no "&", "=", "#", "+" or blank
  // of a reference can add a field to the request or end it.
  constexpr std::string_view hex = "0123456789ABCDEF";
  std::string value;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string_view("-._~:/@").find(c) != std::string_view::npos;
    if (plain) {
      value.push_back(c);
    } else {
      value.push_back('%');
      value.push_back(hex[byte >> 4]);
      value.push_back(hex[byte & 0x0F]);
    }
  }
  return value;
}

}  // namespace

std::string pull_request(std::string_view reference) {
  const ImageReferenceParts parts = split_image_reference(reference);
  std::string request = "POST /v1.41/images/create?fromImage=";
  request.append(query_value(parts.name));
  request.append("&tag=");
  request.append(query_value(parts.tag));
  request.append(" HTTP/1.0\r\nHost: podman\r\nContent-Length: 0\r\n\r\n");
  return request;
}

std::expected<void, PullFailure> pull_image(const CommandContext& ctx, std::string_view endpoint,
                                            std::string_view reference) {
  auto stream = open_api_stream(endpoint);
  if (!stream) return std::unexpected(PullFailure{"the endpoint could not be opened: " + stream.error()});
  if (auto written = (*stream)->write_all(pull_request(reference)); !written) {
    return std::unexpected(PullFailure{"the request could not be written: " + written.error()});
  }
  return follow_pull_answer(ctx, **stream);
}

std::expected<void, PullFailure> follow_pull_answer(const CommandContext& ctx, ApiStream& stream) {
  LineReader reader(stream);
  const auto failed = [](std::string text) { return std::unexpected(PullFailure{std::move(text)}); };

  auto status = reader.next();
  if (!status) return failed(status.error());
  if (!*status) return failed("the endpoint gave no answer");
  const bool accepted = status_word(**status) == "200";
  const std::string status_line = **status;
  auto last_progress = ctx.now();

  bool in_body = false;
  while (!in_body) {
    auto header = reader.next();
    if (!header) return failed(header.error());
    if (!*header) break;
    in_body = trim(**header).empty();
  }
  if (!accepted) {
    // Docker refuses a pull it cannot make with an error status and one JSON object saying why.
    std::optional<std::string> said;
    for (int lines = 0; in_body && !said && lines < 4; ++lines) {
      auto line = reader.next();
      if (!line || !*line) break;
      said = json_string_field(**line, "message");
    }
    if (said && !said->empty()) return std::unexpected(PullFailure{*said, true});
    return failed("the endpoint answered: " + status_line);
  }
  if (!in_body) return {};

  std::vector<PullLayer> layers;
  while (true) {
    auto line = reader.next();
    if (!line) return failed(line.error());
    if (!*line) return {};
    if ((*line)->find("\"error\"") != std::string::npos) {
      return std::unexpected(PullFailure{json_string_field(**line, "error").value_or(**line), true});
    }
    apply_status(layers, **line);
    if (ctx.now() - last_progress >= progress_interval) {
      say(ctx.output, pull_progress_line(layers));
      last_progress = ctx.now();
    }
  }
}

std::optional<std::string> find_runtime_api(const CommandContext& ctx, std::string_view runtime_command) {
  if (runtime_command != "docker") return find_podman_api(ctx);
  auto run = ctx.runner.run_captured("docker", {"context", "inspect", "--format", "{{.Endpoints.docker.Host}}"},
                                     find_api_limit);
  if (!run || !run->success()) return std::nullopt;
  const std::string_view out = trim_white_space(run->stdout_text);
  constexpr std::string_view unix_scheme = "unix://";
  constexpr std::string_view pipe_scheme = "npipe://";
  if (out.starts_with(unix_scheme) && out.size() > unix_scheme.size() + 1 && out[unix_scheme.size()] == '/') {
    return std::string(out.substr(unix_scheme.size()));
  }
  if (out.starts_with(pipe_scheme)) {
    // "npipe:////./pipe/docker_engine" names the pipe \\.\pipe\docker_engine.
    std::string pipe(out.substr(pipe_scheme.size()));
    std::replace(pipe.begin(), pipe.end(), '/', '\\');
    if (pipe.starts_with(pipe_prefix) && pipe.size() > pipe_prefix.size()) return pipe;
  }
  return std::nullopt;
}

bool is_connection_failure(std::string_view said) {
  for (std::string_view sign : {"no such host", "dial tcp", "connection refused", "network is unreachable",
                                "no route to host", "i/o timeout", "TLS handshake timeout", "server misbehaving"}) {
    if (said.find(sign) != std::string_view::npos) return true;
  }
  return false;
}

std::string fetch_failure_sentence(std::string_view image, std::string_view said) {
  const std::string registry(image.substr(0, image.find('/')));
  const std::string start = "The image " + std::string(image);
  if (said.find("no such host") != std::string_view::npos) {
    // "... lookup <name> on <server>: no such host" names the name that was not found.
    std::string host = registry;
    if (const std::size_t at = said.find("lookup "); at != std::string_view::npos) {
      const std::string_view rest = said.substr(at + 7);
      host = std::string(rest.substr(0, rest.find_first_of(" :")));
    }
    return start + " could not be fetched: there is no connection (the name " + visible_text(host) +
           " could not be found).";
  }
  if (is_connection_failure(said)) {
    return start + " could not be fetched: there is no connection to " + registry + ".";
  }
  for (std::string_view sign : {"manifest unknown", "not found", "name unknown", "does not exist", "unknown tag"}) {
    if (said.find(sign) != std::string_view::npos) {
      return start + " is not there: " + registry + " has no image of that name and version.";
    }
  }
  for (std::string_view sign : {"unauthorized", "denied", "authentication required", "forbidden"}) {
    if (said.find(sign) != std::string_view::npos) {
      return start + " could not be fetched: " + registry + " refused access to it.";
    }
  }
  return start + " could not be fetched. " + registry + " said: " + visible_text(said);
}

std::string pull_progress_line(const std::vector<PullLayer>& layers) {
  std::uint64_t received = 0;
  std::uint64_t total = 0;
  bool all_known = true;
  for (const PullLayer& layer : layers) {
    received += layer.current;
    total += layer.total;
    all_known = all_known && layer.total_known;
  }
  if (all_known && total != 0) {
    const std::uint64_t percent = received / total * 100 + received % total * 100 / total;
    return "Downloading: " + format_size(received) + " of " + format_size(total) + " (" +
           std::to_string(percent) + " %) ...";
  }
  return "Downloading: " + format_size(received) + " so far ...";
}

std::optional<std::string> json_text_field(std::string_view line, std::string_view key) {
  const std::string needle = quoted_key(key, ":\"");
  const std::size_t at = line.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t start = at + needle.size();
  const std::size_t end = line.find('"', start);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(line.substr(start, end - start));
}

std::optional<std::uint64_t> json_number_field(std::string_view line, std::string_view key) {
  const std::string needle = quoted_key(key, ":");
  const std::size_t at = line.find(needle);
  if (at == std::string_view::npos) return std::nullopt;
  const char* first = line.data() + at + needle.size();
  const char* last = line.data() + line.size();
  const char* digits_end = first;
  while (digits_end != last && *digits_end >= '0' && *digits_end <= '9') ++digits_end;
  if (digits_end == first) return std::nullopt;
  std::uint64_t value = 0;
  auto [ptr, error] = std::from_chars(first, digits_end, value);
  if (error != std::errc() || ptr != digits_end) return std::nullopt;
  return value;
}

std::string format_gigabytes(std::uint64_t megabytes) {
  // Below a tenth of a gigabyte the decimal would say nothing ("0.0 GB"): megabytes then.
  if (megabytes * 10 < 1024) return std::to_string(megabytes) + " MB";
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%.1f GB", static_cast<double>(megabytes) / 1024.0);
  return text.data();
}

std::string format_size(std::uint64_t bytes) {
  constexpr std::uint64_t gigabyte = std::uint64_t{1} << 30;
  if (bytes >= gigabyte) return format_gigabytes(bytes >> 20);
  return std::to_string(bytes >> 20) + " MB";
}

}  // namespace zelk
