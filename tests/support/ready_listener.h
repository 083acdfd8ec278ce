#pragma once
// A real TCP listener on 127.0.0.1 that answers every connection with "200 OK", for tests
// that start an app more than once and so need its readiness probe answered each time. It
// keeps the first line of every request it read. One made with a condition holds its port only
// while the condition holds, as a container holds the port it publishes only while it runs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelk {

class ReadyListener {
 public:
  ReadyListener();
  /// Listens only while `holds_port` says so (asked every few milliseconds); the port is picked
  /// at once and stays the same.
  explicit ReadyListener(std::function<bool()> holds_port);
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
  std::function<bool()> holds_port_;
  std::atomic<bool> ending_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::unique_ptr<Native> native_;
  std::thread thread_;
};

/// The response every connection gets.
inline constexpr const char* ready_answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

}  // namespace zelk
