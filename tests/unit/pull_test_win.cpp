#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pull.h"
#include "test_context.h"
#include "test_folder.h"
#include "wide_win.h"

namespace zelk {
namespace {

// A one-shot API endpoint on a real named pipe, as Podman's machine offers on Windows.
class OneShotPipeServer {
 public:
  OneShotPipeServer(std::string path, std::string answer) {
    pipe_ = CreateNamedPipeW(to_wide(path).c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536,
                             65536, 0, nullptr);
    EXPECT_NE(pipe_, INVALID_HANDLE_VALUE);
    thread_ = std::thread([this, answer = std::move(answer)] {
      if (!ConnectNamedPipe(pipe_, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
      char buffer[1024];
      while (request_.find("\r\n\r\n") == std::string::npos) {
        DWORD got = 0;
        if (!ReadFile(pipe_, buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
        request_.append(buffer, got);
      }
      for (std::size_t at = 0; at < answer.size(); at += 100) {
        const std::string_view piece = std::string_view(answer).substr(at, 100);
        DWORD written = 0;
        if (!WriteFile(pipe_, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr)) break;
      }
      FlushFileBuffers(pipe_);
      DisconnectNamedPipe(pipe_);
    });
  }
  ~OneShotPipeServer() { finish(); }

  std::string finish() {
    if (thread_.joinable()) thread_.join();
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    return request_;
  }

 private:
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  std::string request_;
  std::thread thread_;
};

std::string unique_pipe_name() {
  static std::atomic<int> counter{0};
  return "\\\\.\\pipe\\zelk-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

TEST(PullImageOverNamedPipe, SendsTheRequestAndFollowsTheAnswerToItsEnd) {
  TestFolder home;
  TestContext fake(home.path());
  const std::string pipe = unique_pipe_name();
  OneShotPipeServer server(pipe,
                           "HTTP/1.0 200 OK\r\nApi-Version: 1.41\r\n\r\n"
                           "{\"status\":\"Pulling fs layer\",\"progressDetail\":{},\"id\":\"ab43\"}\n"
                           "{\"status\":\"Download complete\",\"progressDetail\":{},\"id\":\"ab43\"}\n");
  CommandContext ctx = fake.context();
  auto pulled = pull_image(ctx, pipe, "docker.io/n8nio/n8n:2.40.7");
  EXPECT_TRUE(pulled) << pulled.error().text;
  EXPECT_EQ(server.finish(),
            "POST /v1.41/images/create?fromImage=docker.io/n8nio/n8n&tag=2.40.7 HTTP/1.0\r\n"
            "Host: podman\r\nContent-Length: 0\r\n\r\n");
}

TEST(PullImageOverNamedPipe, AnErrorInTheStreamFails) {
  TestFolder home;
  TestContext fake(home.path());
  const std::string pipe = unique_pipe_name();
  OneShotPipeServer server(pipe, "HTTP/1.0 200 OK\r\n\r\n{\"error\":\"manifest unknown\"}\n");
  CommandContext ctx = fake.context();
  EXPECT_FALSE(pull_image(ctx, pipe, "a/b:1"));
}

TEST(PullImageOverNamedPipe, NoPipeFails) {
  TestFolder home;
  TestContext fake(home.path());
  CommandContext ctx = fake.context();
  EXPECT_FALSE(pull_image(ctx, unique_pipe_name(), "a/b:1"));
}

}  // namespace
}  // namespace zelk
