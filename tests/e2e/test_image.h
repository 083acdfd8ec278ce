#pragma once
// The tiny web-server image the end-to-end tests and the benchmark run: busybox and a few of
// its applet links, a page at /www/index.html, a path /cgi-bin/silent that takes a request and
// never answers it in time, and an entry script that serves /www on port 8080. It is made here
// without any network and imported into the runtime under a name of the caller's choosing. No
// test framework is needed, so the benchmark shares it.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "runner.h"

namespace zelk::e2e {

/// Builds the image's files under `scratch` and imports them into the runtime as `image`.
/// Gives what went wrong when a step fails.
std::expected<void, std::string> import_test_image(const CommandRunner& runner, const std::string& runtime,
                                                   const std::filesystem::path& scratch, const std::string& image);

/// An added recipe for the image: one container that serves the page on 127.0.0.1:port and is
/// ready at /index.html; `command`, when given, runs in place of the image's own.
std::string test_page_recipe(const std::string& id, std::uint16_t port, const std::string& image,
                             const std::vector<std::string>& command = {});

}  // namespace zelk::e2e
