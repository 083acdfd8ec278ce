#pragma once
// A real TCP listener on 127.0.0.1 for tests of code that connects to a local port: it
// accepts one connection on its own thread, reads the request up to its empty line, answers
// as told and closes.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace zelk {

class TcpListener {
 public:
  enum class Mode {
    Answer,   // send the answer in one piece, then close
    Trickle,  // send the answer one byte at a time, then close
    Silent,   // send nothing; wait until the other side closes
  };

  explicit TcpListener(std::string answer, Mode mode = Mode::Answer);
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  std::uint16_t port() const { return port_; }

  /// Waits for the connection to end and gives the bytes that arrived on it.
  std::string request();

 private:
  struct Native;
  void serve();

  std::string answer_;
  Mode mode_;
  std::uint16_t port_ = 0;
  std::string received_;
  std::unique_ptr<Native> native_;
  std::thread thread_;
};

/// A port on 127.0.0.1 where nothing listens (taken from the system, then let go).
std::uint16_t unused_port();

}  // namespace zelk
