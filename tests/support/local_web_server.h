#pragma once
// A real web server on 127.0.0.1 for tests that fetch with the real curl: python3 runs
// local_web_server.py beside this file on a free port, serving the files a test puts into its
// folder. It stops when the object goes (or when the test process dies).

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "test_folder.h"

namespace zelk {

class LocalWebServer {
 public:
  LocalWebServer();
  ~LocalWebServer();
  LocalWebServer(const LocalWebServer&) = delete;
  LocalWebServer& operator=(const LocalWebServer&) = delete;

  /// "http://127.0.0.1:<port>/<path>".
  std::string address(std::string_view path) const;
  /// Serves the bytes at /<path> (folders are made as needed).
  void put(std::string_view path, std::string_view bytes) const;
  /// What the server said of its last flood ("<bytes sent> ended" or "<bytes sent> hung up"),
  /// once it has said it: waits for it a bounded time, and gives "" when nothing came.
  std::string flood_outcome() const;
  unsigned port() const { return port_; }

 private:
  TestFolder root_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  unsigned port_ = 0;
};

}  // namespace zelk
