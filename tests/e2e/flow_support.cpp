#include "flow_support.h"

#include <algorithm>
#include <chrono>
#include <sstream>

#include "platform.h"

namespace zelk::e2e {

std::string keeper_recipe(const std::string& id, const std::string& name, std::uint16_t port,
                          const std::string& image) {
  // Command words hold no "$": the page's environment comes from busybox's own env.
  return "services:\n"
         "  web:\n"
         "    image: " + image + "\n"
         "    command:\n"
         "      - sh\n"
         "      - -c\n"
         "      - busybox env > /www/env.txt && exec /entry.sh\n"
         "    environment:\n"
         "      SECRET: ${E2E_SECRET}\n"
         "      GREETING: ${GREETING:-hello}\n"
         "    ports:\n"
         "      - \"127.0.0.1:${TORVO_PORT}:8080\"\n"
         "    volumes:\n"
         "      - pages:/www/pages\n"
         "      - notes:/www/notes\n"
         "volumes:\n"
         "  pages:\n"
         "    name: torvo-" + id + "-pages\n"
         "  notes:\n"
         "    name: torvo-" + id + "-notes\n"
         "x-zelk:\n"
         "  format: 2\n"
         "  id: " + id + "\n"
         "  name: " + name + "\n"
         "  category: Tests\n"
         "  summary: A page that shows its two volumes and its environment.\n"
         "  port: " + std::to_string(port) + "\n"
         "  ready: /index.html\n"
         "  secrets:\n"
         "    E2E_SECRET: 24\n";
}

ProgramRun run_zelk_program(const CommandRunner& runner, const std::filesystem::path& home,
                            const std::string& path, const std::vector<std::string>& args) {
  std::vector<std::string> command{"ZELK_HOME=" + path_to_utf8(home), "PATH=" + path, ZELK_BINARY};
  command.insert(command.end(), args.begin(), args.end());
  auto run = runner.run_captured("/usr/bin/env", command, std::chrono::seconds(300));
  if (!run) return {"", "run error: " + fmt_run_error(run.error()), -1};
  return {run->stdout_text, run->stderr_text, run->exit_code.value_or(-1)};
}

std::optional<std::string> http_body(const CommandRunner& runner, std::uint16_t port, const std::string& path) {
  auto run = runner.run_captured(
      "curl", {"-sf", "--max-time", "20", "http://127.0.0.1:" + std::to_string(port) + path}, std::chrono::seconds(30));
  if (!run || !run->success()) return std::nullopt;
  return run->stdout_text;
}

std::optional<std::string> line_value(const std::string& text, const std::string& name) {
  for (const std::string& line : lines_of(text)) {
    if (line.starts_with(name + "=")) return line.substr(name.size() + 1);
  }
  return std::nullopt;
}

std::vector<std::string> entry_names(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    names.push_back(path_to_utf8(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace zelk::e2e
