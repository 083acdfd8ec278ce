#include <windows.h>

#include "pull.h"
#include "runner.h"
#include "wide_win.h"

namespace zelk {

namespace {

// Podman's API on Windows: the machine's named pipe, opened like a file.
class NamedPipeStream final : public ApiStream {
 public:
  explicit NamedPipeStream(HANDLE pipe) : pipe_(pipe) {}
  ~NamedPipeStream() override { CloseHandle(pipe_); }
  NamedPipeStream(const NamedPipeStream&) = delete;
  NamedPipeStream& operator=(const NamedPipeStream&) = delete;

  std::expected<void, std::string> write_all(std::string_view bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = bytes.size() > 65536 ? 65536 : static_cast<DWORD>(bytes.size());
      DWORD written = 0;
      if (!WriteFile(pipe_, bytes.data(), chunk, &written, nullptr)) {
        return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
      }
      bytes.remove_prefix(written);
    }
    if (!FlushFileBuffers(pipe_)) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
    return {};
  }

  std::expected<std::size_t, std::string> read_some(std::span<char> buffer) override {
    DWORD got = 0;
    const DWORD want = buffer.size() > 65536 ? 65536 : static_cast<DWORD>(buffer.size());
    if (!ReadFile(pipe_, buffer.data(), want, &got, nullptr)) {
      const DWORD error = GetLastError();
      // The server closing its end is the end of the answer.
      if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) return 0;
      if (error == ERROR_MORE_DATA) return static_cast<std::size_t>(got);
      return std::unexpected(os_error_text(static_cast<int>(error)));
    }
    return static_cast<std::size_t>(got);
  }

 private:
  HANDLE pipe_;
};

}  // namespace

std::expected<std::unique_ptr<ApiStream>, std::string> open_api_stream(std::string_view endpoint) {
  const std::wstring path = to_wide(endpoint);
  HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
  return std::make_unique<NamedPipeStream>(pipe);
}

}  // namespace zelk
