#pragma once
// What the end-to-end tests of whole user flows share: a recipe whose page shows the files
// of its two data volumes and its environment, the zelk program run as a separate process
// with a data folder and a PATH of the test's choosing, and plain reads of what a page serves.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runner.h"

namespace zelk::e2e {

/// A recipe for the test image: its page serves /www, with the volume "<id>-pages" at
/// /www/pages and "<id>-notes" at /www/notes (named "torvo-<id>-pages" and
/// "torvo-<id>-notes"), and /env.txt listing its environment: SECRET, a secret Zelk makes,
/// and GREETING, a setting that defaults to "hello".
std::string keeper_recipe(const std::string& id, const std::string& name, std::uint16_t port,
                          const std::string& image);

/// The outcome of one run of the zelk program.
struct ProgramRun {
  std::string out;
  std::string err;
  int code = -1;
};

/// Runs the built zelk program with exactly this ZELK_HOME and PATH.
ProgramRun run_zelk_program(const CommandRunner& runner, const std::filesystem::path& home,
                            const std::string& path, const std::vector<std::string>& args);

/// The body that 127.0.0.1:port serves at the path, or none when it does not answer 200.
std::optional<std::string> http_body(const CommandRunner& runner, std::uint16_t port, const std::string& path);

/// The value of "<name>=" in an environment listing or settings text, or none.
std::optional<std::string> line_value(const std::string& text, const std::string& name);

/// The names of the entries of a folder, sorted.
std::vector<std::string> entry_names(const std::filesystem::path& folder);

/// The text split at line feeds.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace zelk::e2e
