#pragma once
/// The readiness probe: an HTTP/1.1 GET to 127.0.0.1.

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace zelk {

/// (port, path) to the HTTP status of a GET to 127.0.0.1, or none when nothing answered.
using HttpProbe = std::function<std::optional<std::uint16_t>(std::uint16_t port, std::string_view path)>;

/// The real probe.
std::optional<std::uint16_t> http_probe(std::uint16_t port, std::string_view path);

}  // namespace zelk
