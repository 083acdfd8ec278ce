#include "window_app.h"

namespace zelk {

AppEntry* find_entry(WindowApp& app, std::string_view id) {
  for (AppEntry& entry : app.entries) {
    if (entry.recipe->id == id) return &entry;
  }
  return nullptr;
}

}  // namespace zelk
