#include "ready_listener.h"

namespace zelk {

std::vector<std::string> ReadyListener::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void ReadyListener::answered(std::string request) {
  const std::size_t end = request.find("\r\n");
  if (end != std::string::npos) request.resize(end);
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(request));
}

}  // namespace zelk
