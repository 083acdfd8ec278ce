#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "local_web_server.h"

namespace zelk {

LocalWebServer::LocalWebServer() {
  int to_server[2];
  int from_server[2];
  if (pipe2(to_server, O_CLOEXEC) != 0 || pipe2(from_server, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string script = std::string(ZELK_SOURCE_DIR) + "/tests/support/local_web_server.py";
  const std::string root = root_.path().string();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(to_server[0], 0);
    dup2(from_server[1], 1);
    close(to_server[0]);
    close(to_server[1]);
    close(from_server[0]);
    close(from_server[1]);
    // The system's own python3 first: a version manager's shim on PATH costs seconds a start.
    execl("/usr/bin/python3", "python3", script.c_str(), root.c_str(), static_cast<char*>(nullptr));
    execlp("python3", "python3", script.c_str(), root.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(to_server[0]);
  close(from_server[1]);
  stdin_fd_ = to_server[1];
  // The first line is the port; the read waits as long as python3 takes to start.
  std::string line;
  char c = 0;
  while (read(from_server[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  close(from_server[0]);
  port_ = static_cast<unsigned>(std::strtoul(line.c_str(), nullptr, 10));
  if (port_ == 0) throw std::runtime_error("the local web server did not start");
}

LocalWebServer::~LocalWebServer() {
  if (stdin_fd_ >= 0) close(stdin_fd_);  // the server ends when its input closes
  if (pid_ > 0) {
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      usleep(10000);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

std::string LocalWebServer::address(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + std::string(path);
}

std::string LocalWebServer::flood_outcome() const {
  const std::filesystem::path record = root_.path() / "flood-sent";
  for (int i = 0; i < 3000 && !std::filesystem::exists(record); ++i) usleep(10000);
  std::ifstream in(record);
  std::string line;
  std::getline(in, line);
  return line;
}

void LocalWebServer::put(std::string_view path, std::string_view bytes) const {
  const std::filesystem::path file = root_.path() / std::string(path);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace zelk
