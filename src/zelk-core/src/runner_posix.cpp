#include <cstring>

#include "runner.h"

namespace zelk {

std::expected<RunOutput, RunError> SystemRunner::run_captured(const std::string&,
                                                              const std::vector<std::string>&,
                                                              std::chrono::nanoseconds) const {
  return std::unexpected(RunError::os("not built yet"));
}

std::expected<std::optional<std::int32_t>, RunError> SystemRunner::run_attached(
    const std::string&, const std::vector<std::string>&, const EnvPairs&, AttachMode) const {
  return std::unexpected(RunError::os("not built yet"));
}

std::string os_error_text(int code) {
  return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

}  // namespace zelk
