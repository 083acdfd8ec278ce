#include "window_fakes.h"

#include "platform.h"

namespace zelk {

FakeWorkerWorld::FakeWorkerWorld(std::optional<std::filesystem::path> home_folder) : home(std::move(home_folder)) {}

std::shared_ptr<const WorkerServices> FakeWorkerWorld::services() {
  auto made = std::make_shared<WorkerServices>();
  made->data_folder = [home = home] { return home; };
  made->runner = runner;
  made->probe = [answer = probe_answer](std::uint16_t port, std::string_view path) -> std::optional<std::uint16_t> {
    return answer ? answer(port, path) : std::nullopt;
  };
  made->sleep = [records = records](std::chrono::nanoseconds duration) {
    std::function<void(std::chrono::nanoseconds)> hook;
    {
      std::lock_guard lock(records->mutex);
      records->sleeps.push_back(duration);
      hook = records->on_sleep;
    }
    if (hook) hook(duration);
  };
  made->fill_random = [next = std::make_shared<std::uint8_t>(0)](std::span<std::uint8_t> buffer)
      -> std::expected<void, std::string> {
    for (std::uint8_t& byte : buffer) byte = (*next)++;
    return {};
  };
  made->open_in_browser = [records = records](const std::string& address) -> std::expected<void, std::string> {
    std::lock_guard lock(records->mutex);
    records->opened.push_back(address);
    return {};
  };
  made->now = [] { return std::chrono::system_clock::time_point{} + std::chrono::hours(24 * 365 * 55); };
  made->platform = platform;
  made->start_installer = [records = records](const std::filesystem::path& path, bool tray,
                                              std::uint32_t) -> std::expected<void, std::string> {
    std::lock_guard lock(records->mutex);
    records->installers.push_back(path_to_utf8(path) + " tray=" + (tray ? "1" : "0"));
    return {};
  };
  return made;
}

std::vector<std::string> FakeShell::scripts_of(std::string_view function) const {
  std::vector<std::string> found;
  const std::string start = std::string(function) + "(";
  for (const std::string& script : scripts) {
    if (script.starts_with(start)) found.push_back(script);
  }
  return found;
}

namespace {

const MenuItem* find_item(const std::vector<MenuItem>& items, std::string_view id) {
  for (const MenuItem& item : items) {
    if (!item.id.empty() && item.id == id) return &item;
    if (const MenuItem* inner = find_item(item.items, id)) return inner;
  }
  return nullptr;
}

}  // namespace

const MenuItem* FakeShell::item(std::string_view id) const { return find_item(menu.items, id); }

}  // namespace zelk
