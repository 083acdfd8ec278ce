#pragma once
/// What "stop" and "remove" ask of the runtime's list: which of an app's containers exist and
/// which of those run.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"
#include "runtime.h"

namespace zelk {

/// The app's container names (main first, then the helpers) that the runtime lists.
std::vector<std::string> listed_containers(const Recipe& recipe, const ContainerMap& containers);

/// Every state word but "exited", "created" and "stopped" counts as running.
bool counts_as_running(std::string_view state);

}  // namespace zelk
