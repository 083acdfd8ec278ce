#pragma once
/// Winsock for every part of the program that opens a socket on Windows.

namespace zelk {

/// Starts Winsock once per process and leaves it running until the process ends: whether it
/// started.
bool winsock_started();

}  // namespace zelk
