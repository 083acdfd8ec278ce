#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform.h"
#include "pull.h"
#include "test_context.h"
#include "test_folder.h"

namespace zelk {
namespace {

// A one-shot API endpoint on a real Unix socket: it takes one connection, reads the request
// up to its blank line, answers with the given bytes in small pieces and closes.
class OneShotSocketServer {
 public:
  OneShotSocketServer(std::string path, std::string answer) : path_(std::move(path)) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(::listen(listener_, 1), 0);
    thread_ = std::thread([this, answer = std::move(answer)] {
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      char buffer[1024];
      while (request_.find("\r\n\r\n") == std::string::npos) {
        const ssize_t got = ::recv(client, buffer, sizeof(buffer), 0);
        if (got <= 0) break;
        request_.append(buffer, static_cast<std::size_t>(got));
      }
      for (std::size_t at = 0; at < answer.size(); at += 100) {
        std::string_view piece = std::string_view(answer).substr(at, 100);
        if (::send(client, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
      }
      ::close(client);
    });
  }
  ~OneShotSocketServer() { finish(); }

  /// Waits for the one exchange to end and gives the request as the server read it.
  std::string finish() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
    ::unlink(path_.c_str());
    return request_;
  }

 private:
  std::string path_;
  int listener_ = -1;
  std::string request_;
  std::thread thread_;
};

const std::string podman_answer =
    "HTTP/1.0 200 OK\r\nApi-Version: 1.41\r\nLibpod-Api-Version: 4.3.1\r\nServer: Libpod/4.3.1 (linux)\r\n"
    "X-Reference-Id: 0xc0005ae038\r\nDate: Wed, 09 Dec 2026 05:06:12 GMT\r\n\r\n"
    "{\"status\":\"Already exists\",\"progressDetail\":{},\"id\":\"79bc92d0ac6e\"}\n"
    "{\"status\":\"Pulling fs layer\",\"progressDetail\":{},\"id\":\"ab436e628f52\"}\n"
    "{\"status\":\"Download complete\",\"progressDetail\":{},\"id\":\"ab436e628f52\"}\n"
    "{\"status\":\"Download complete\",\"progressDetail\":{},\"id\":\"ab436e628f52\"}\n";

TEST(PullImageOverUnixSocket, SendsTheRequestAndFollowsTheAnswerToItsEnd) {
  TestFolder home;
  TestContext fake(home.path());
  const std::string socket_path = path_to_utf8(home.path() / "api.sock");
  OneShotSocketServer server(socket_path, podman_answer);
  CommandContext ctx = fake.context();
  auto pulled = pull_image(ctx, socket_path, "127.0.0.1:5000/zelk/bb:1.0");
  EXPECT_TRUE(pulled) << pulled.error().text;
  EXPECT_EQ(server.finish(),
            "POST /v1.41/images/create?fromImage=127.0.0.1:5000/zelk/bb&tag=1.0 HTTP/1.0\r\n"
            "Host: podman\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(fake.output.text, "");
}

TEST(PullImageOverUnixSocket, AnErrorInTheStreamFails) {
  TestFolder home;
  TestContext fake(home.path());
  const std::string socket_path = path_to_utf8(home.path() / "api.sock");
  OneShotSocketServer server(
      socket_path,
      "HTTP/1.0 200 OK\r\nApi-Version: 1.41\r\n\r\n"
      "{\"progressDetail\":{},\"errorDetail\":{\"message\":\"manifest unknown\"},\"error\":\"manifest unknown\"}\n");
  CommandContext ctx = fake.context();
  EXPECT_FALSE(pull_image(ctx, socket_path, "127.0.0.1:5000/zelk/none:1.0"));
}

TEST(PullImageOverUnixSocket, NoListenerFails) {
  TestFolder home;
  TestContext fake(home.path());
  CommandContext ctx = fake.context();
  auto pulled = pull_image(ctx, path_to_utf8(home.path() / "nobody.sock"), "a/b:1");
  ASSERT_FALSE(pulled);
  EXPECT_NE(pulled.error().text.find("(os error "), std::string::npos) << pulled.error().text;
}

}  // namespace
}  // namespace zelk
