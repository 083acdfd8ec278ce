#pragma once
// A real TCP listener on 127.0.0.1 that answers every connection with "200 OK", for tests
// that start an app more than once and so need its readiness probe answered each time. It
// keeps the first line of every request it read.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelk {

class ReadyListener {
 public:
  ReadyListener();
  ~ReadyListener();
  ReadyListener(const ReadyListener&) = delete;
  ReadyListener& operator=(const ReadyListener&) = delete;

  std::uint16_t port() const { return port_; }

  /// The request line of every connection answered so far ("GET /path HTTP/1.1").
  std::vector<std::string> requests() const;

 private:
  struct Native;
  void serve();
  void answered(std::string request);

  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::unique_ptr<Native> native_;
  std::thread thread_;
};

/// The response every connection gets.
inline constexpr const char* ready_answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace zelk
