#include "zelk/app_containers.h"

#include <system_error>

#include "envfile.h"

namespace zelk {

std::vector<std::string> listed_containers(const Recipe& recipe, const ContainerMap& containers) {
  std::vector<std::string> listed;
  for (const std::string& name : container_names(recipe)) {
    if (containers.contains(name)) listed.push_back(name);
  }
  return listed;
}

bool counts_as_running(std::string_view state) {
  return state != "exited" && state != "created" && state != "stopped";
}

}  // namespace zelk
