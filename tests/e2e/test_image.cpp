#include "test_image.h"

#include <chrono>
#include <fstream>
#include <system_error>

#include "platform.h"

namespace zelk::e2e {

namespace {

constexpr std::chrono::seconds program_limit{120};

// PID 1 of the image traps TERM so that a stop ends at once instead of after the runtime's
// grace period.
constexpr const char* entry_script =
    "#!/bin/sh\n"
    "trap 'exit 0' TERM INT\n"
    "httpd -f -p 8080 -h /www &\n"
    "wait\n";

// A page that never answers in time: the server takes the connection and the request, and the
// script behind it stays silent far longer than any probe waits, then ends by itself.
constexpr const char* silent_script =
    "#!/bin/sh\n"
    "exec sleep 30\n";

bool write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string failure(const std::string& what, const std::expected<RunOutput, RunError>& run) {
  if (!run) return what + ": " + fmt_run_error(run.error());
  return what + ": exit code " + (run->exit_code ? std::to_string(*run->exit_code) : std::string("none")) +
         "\n" + run->stderr_text;
}

}  // namespace

std::expected<void, std::string> import_test_image(const CommandRunner& runner, const std::string& runtime,
                                                   const std::filesystem::path& scratch, const std::string& image) {
  namespace fs = std::filesystem;
  const fs::path root = scratch / "rootfs";
  std::error_code error;
  for (const char* folder : {"bin", "www", "www/cgi-bin", "tmp"}) fs::create_directories(root / folder, error);
  fs::copy_file("/bin/busybox", root / "bin" / "busybox", fs::copy_options::overwrite_existing, error);
  if (error) return std::unexpected("busybox could not be copied: " + error.message());
  for (const char* applet : {"sh", "httpd", "sleep", "cat", "ls", "wget", "tar", "true"}) {
    fs::create_symlink("busybox", root / "bin" / applet, error);
    if (error) return std::unexpected(std::string("the link ") + applet + " could not be made: " + error.message());
  }
  if (!write_file(root / "www" / "index.html", "<p>ok</p>\n") || !write_file(root / "entry.sh", entry_script) ||
      !write_file(root / "www" / "cgi-bin" / "silent", silent_script)) {
    return std::unexpected("the image's files could not be written under " + path_to_utf8(root));
  }
  for (const fs::path& script : {root / "entry.sh", root / "www" / "cgi-bin" / "silent"}) {
    fs::permissions(script,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    error);
  }

  const std::string tarball = path_to_utf8(scratch / "rootfs.tar");
  auto packed = runner.run_captured("tar", {"-C", path_to_utf8(root), "-cf", tarball, "."}, program_limit);
  if (!packed || !packed->success()) return std::unexpected(failure("tar", packed));
  auto imported = runner.run_captured(
      runtime, {"import", "--change", "ENV PATH=/bin", "--change", "CMD [\"/entry.sh\"]", tarball, image},
      program_limit);
  if (!imported || !imported->success()) return std::unexpected(failure(runtime + " import", imported));
  return {};
}

std::string test_page_recipe(const std::string& id, std::uint16_t port, const std::string& image,
                             const std::vector<std::string>& command) {
  std::string words;
  for (const std::string& word : command) words += "      - " + word + "\n";
  return "services:\n"
         "  web:\n"
         "    image: " + image + "\n" +
         (words.empty() ? "" : "    command:\n" + words) +
         "    ports:\n"
         "      - \"127.0.0.1:${TORVO_PORT}:8080\"\n"
         "x-zelk:\n"
         "  format: " + (words.empty() ? "1" : "2") + "\n"  // command words belong to format 2
         "  id: " + id + "\n"
         "  name: Test page " + id + "\n"
         "  category: Tests\n"
         "  summary: A small web server for the end-to-end tests.\n"
         "  port: " + std::to_string(port) + "\n"
         "  ready: /index.html\n";
}

}  // namespace zelk::e2e
