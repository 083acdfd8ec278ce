#include <chrono>

#include "platform.h"
#include "zelk/context.h"

namespace zelk {

std::string check_wsl(const CommandContext& ctx) {
  if (ctx.platform != "windows") return {};
  auto run = ctx.runner.run_captured("wsl", {"--status"}, std::chrono::seconds(20));
  if (run && run->success()) {
    return "\n  If the output above mentions virtualization, turn it on in the computer's firmware "
           "settings (BIOS or UEFI). Then restart the computer and run \"zelk setup\" again. Help: " +
           std::string(help_address);
  }
  return "\n  Windows' Linux subsystem (WSL), which Podman needs, is not ready. Open PowerShell as "
         "administrator and run: wsl --install\n  Then restart the computer and run \"zelk setup\" "
         "again, or press \"Set up Podman\" in the Zelk window.";
}

}  // namespace zelk
