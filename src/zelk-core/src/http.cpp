#include "http.h"

#include "utf8.h"

namespace zelk {

namespace {

constexpr std::size_t status_bytes = 12;
constexpr std::string_view http_prefix = "HTTP/1.";

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string probe_request(std::uint16_t port, std::string_view path) {
  const std::string port_text = std::to_string(port);
  std::string request = "GET ";
  request.append(path);
  request.append(" HTTP/1.1\r\nHost: 127.0.0.1:");
  request.append(port_text);
  request.append("\r\nUser-Agent: zelk\r\nAccept: */*\r\nConnection: close\r\n\r\n");
  return request;
}

std::optional<std::uint16_t> probe_status(std::string_view answer) {
  if (!is_valid_utf8(answer) || !answer.starts_with(http_prefix)) return std::nullopt;
  const std::string_view rest = answer.substr(http_prefix.size());

  // The characters at positions 2, 3 and 4 after the prefix; the minor version digit and
  // the blank after it are not looked at.
  std::string digits;
  std::size_t position = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (is_continuation(rest[i])) continue;
    std::size_t end = i + 1;
    while (end < rest.size() && is_continuation(rest[end])) ++end;
    if (position >= 2 && position <= 4) digits.append(rest.substr(i, end - i));
    ++position;
    if (position > 4) break;
  }
  if (position <= 4) return std::nullopt;

  std::string_view number = digits;
  if (number.starts_with('+')) number.remove_prefix(1);
  if (number.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : number) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> http_probe(std::uint16_t port, std::string_view path) {
  const std::optional<std::string> answer = probe_exchange(port, probe_request(port, path), status_bytes);
  if (!answer) return std::nullopt;
  return probe_status(*answer);
}

}  // namespace zelk
