#include <windows.h>

#include "platform.h"
#include "process_win.h"
#include "runner.h"
#include "update.h"
#include "wide_win.h"

namespace zelk {

const std::string_view update_platform_word = "windows-x64";

std::expected<void, std::string> start_installer(const std::filesystem::path& path, bool tray,
                                                 std::uint32_t creation_flags) {
  const win::Handle null_device = win::open_null_device();
  if (!null_device) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
  // The installer outlives this program and replaces it: it inherits its three null streams
  // and nothing else, so it never holds a pipe of another run (or of the window program) open.
  auto process = win::start_process({
      .application = path.wstring(),
      .command_line = to_wide(windows_command_line(path_to_utf8(path), installer_arguments(tray))),
      .std_input = null_device.get(),
      .std_output = null_device.get(),
      .std_error = null_device.get(),
      .creation_flags = creation_flags,
      .environment = std::nullopt,
  });
  if (!process) return std::unexpected(os_error_text(static_cast<int>(process.error())));
  // Not waited for: the installer replaces this program while it runs.
  return {};
}

}  // namespace zelk
