#include "loop_rig.h"

#include <gtest/gtest.h>

#include "envfile.h"

namespace zelk {

LoopRig::LoopRig() {
  world.runner->on("podman", {"ps"}, ScriptedRunner::ok(""));
}

ControlFlow LoopRig::start(bool window_flag) {
  WindowServices services{
      world.services(),
      workers.starter(),
      clock,
      [this] { return podman_desktop; },
      [this](std::string_view name) {
        const auto found = programs.find(std::string(name));
        return found == programs.end() ? std::string(name) : found->second;
      },
      [this](std::string_view name) -> std::optional<std::string> {
        const auto found = environment.find(std::string(name));
        if (found == environment.end()) return std::nullopt;
        return found->second;
      },
  };
  loop = make_window_loop(window_flag, shell, proxy, std::move(services));
  const ControlFlow flow = handle(LoopStarted{});
  // Init starts the refresh, the resume worker, then the update thread.
  if (workers.held.size() == 3) {
    update_thread = std::move(workers.held.back());
    workers.held.pop_back();
  }
  return flow;
}

ControlFlow LoopRig::handle(LoopEvent event) { return handle_event(*loop, std::move(event)); }

void LoopRig::deliver() {
  for (UserEvent& event : proxy->take()) user(std::move(event));
}

void LoopRig::settle() {
  while (!workers.held.empty() || !proxy->events().empty()) {
    workers.run_all();
    deliver();
  }
}

WindowApp& LoopRig::app() {
  WindowApp* made = loop->app();
  if (!made) {
    ADD_FAILURE() << "the loop has no state";
    std::abort();
  }
  return *made;
}

AppEntry& LoopRig::entry(std::string_view id) {
  AppEntry* found = find_entry(app(), id);
  if (!found) {
    ADD_FAILURE() << "no entry " << id;
    std::abort();
  }
  return *found;
}

const MenuItem& LoopRig::item(std::string_view id) {
  const MenuItem* found = shell.item(id);
  if (!found) {
    ADD_FAILURE() << "no menu item " << id;
    std::abort();
  }
  return *found;
}

const MenuItem& LoopRig::submenu(std::string_view id) {
  return shell.menu.items.at(entry(id).submenu);
}

StatesRead LoopRig::read(std::uint64_t number, std::map<std::string, AppState> states, std::string runtime) {
  StatesFound found;
  found.runtime_name = std::move(runtime);
  for (const AppEntry& e : app().entries) {
    const auto state = states.find(e.recipe->id);
    found.rows.push_back(StateRow{state == states.end() ? AppState::not_installed() : state->second,
                                  app_address(folder.path(), *e.recipe), e.recipe->id, {}});
  }
  return StatesRead{number, std::move(found)};
}

}  // namespace zelk
