#pragma once
/// Whether the container runtime runs as root on Linux, and what that means for the apps.

#include <optional>
#include <string>

#include "runtime.h"
#include "zelk/context.h"

namespace zelk {

/// On Linux, when the runtime says it runs as root: the lines that say what that exposes and
/// how to run it rootless. None elsewhere (Podman's machine and Docker Desktop keep the
/// containers' networks inside a virtual machine), when it runs rootless, or when it does not say.
std::optional<std::string> root_runtime_notice(const CommandContext& ctx, const ContainerRuntime& runtime);

}  // namespace zelk
