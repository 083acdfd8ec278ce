#pragma once
/// Whether a port on 127.0.0.1 is free for an app: asked of the system by binding a socket to
/// it for a moment. Free of state; may be called from any thread.

#include <cstdint>

namespace zelk {

/// True when a TCP socket can be bound to 127.0.0.1 at the port now; false when another
/// program holds it (or the system refuses the socket).
bool port_is_free(std::uint16_t port);

}  // namespace zelk
