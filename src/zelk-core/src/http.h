#pragma once
/// The readiness probe: an HTTP/1.1 GET to 127.0.0.1 that reads only the status line's first
/// twelve bytes. Free of state; may be called from several threads at once.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zelk {

/// (port, path) to the HTTP status of a GET to 127.0.0.1, or none when nothing answered.
using HttpProbe = std::function<std::optional<std::uint16_t>(std::uint16_t port, std::string_view path)>;

/// The real probe: connects within 2 seconds, sends and reads with 3-second time-outs, and
/// gives the status of an "HTTP/1.x" answer, or none for every kind of failure.
std::optional<std::uint16_t> http_probe(std::uint16_t port, std::string_view path);

/// The exact request the probe sends.
std::string probe_request(std::uint16_t port, std::string_view path);

/// The status code of the first bytes of an answer, or none when they are not UTF-8, do not
/// begin with "HTTP/1." or hold no three-character number after it.
std::optional<std::uint16_t> probe_status(std::string_view answer);

/// The platform half: connects to 127.0.0.1:port, sends the request and gives the first
/// bytes of the answer (at most `want`), or none when the connection or the send failed.
std::optional<std::string> probe_exchange(std::uint16_t port, std::string_view request, std::size_t want);

}  // namespace zelk
