// Fuzz target: addresses are the one way text from the web reaches a command line. Whatever
// passes check_web_address must be harmless as curl's last argument: no option look, only the
// allowed characters, one of the two accepted beginnings, and placed after "--".

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shelf.h"

namespace {

bool allowed(unsigned char c) {
  if (c < 33 || c > 126) return false;
  // "[" and "]" as "{" and "}": curl's globbing would make one address many requests.
  return std::string_view("\"'\\<>`{}|^[]").find(static_cast<char>(c)) == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) return -1;  // past 300 bytes everything is refused alike
  const std::string address(reinterpret_cast<const char*>(data), size);
  const auto checked = zelk::check_web_address(address);
  // Work the other readers of addresses too: none may fail on any text.
  (void)zelk::address_host(address);
  const bool own_shelf = zelk::is_default_shelf_recipe(address);
  if (!checked) {
    if (checked.error().empty() || own_shelf) std::abort();
    return 0;
  }
  if (address.empty() || address.size() > 300 || address.front() == '-') std::abort();
  for (char c : address) {
    if (!allowed(static_cast<unsigned char>(c))) std::abort();
  }
  const bool secure = address.starts_with("https://");
  if (!secure && !address.starts_with("http://127.0.0.1") && !address.starts_with("http://localhost")) {
    std::abort();
  }
  // No user part before the path: curl would fetch from the host after the "@".
  const std::string host = zelk::address_host(address);
  if (host.find('@') != std::string::npos) std::abort();
  if (secure && (host.empty() || host.front() == '-')) std::abort();
  for (const auto& args : {zelk::curl_arguments(address, 65536, 20),
                           zelk::curl_arguments(address, 104857600, 840, std::string("/tmp/x"))}) {
    if (args.size() < 2 || args[args.size() - 2] != "--" || args.back() != address) std::abort();
    const std::string& protocols = args[7];
    if (protocols != (secure ? "=https" : "=http,https") || args[9] != "=https") std::abort();
  }
  return 0;
}
