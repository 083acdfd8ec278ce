#pragma once
/// Image pulls through Podman's HTTP API, so the user sees the size and progress of a download
/// that Podman's own run command would make in silence. Also the size texts every message uses.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zelk/context.h"

namespace zelk {

/// One layer of a pull as the progress stream reports it, in the order ids first appear.
struct PullLayer {
  std::string id;
  std::uint64_t current = 0;  ///< bytes received so far
  bool total_known = false;
  std::uint64_t total = 0;  ///< bytes
};

/// The name and the tag of an image reference (slices of the reference).
struct ImageReferenceParts {
  std::string_view name;
  std::string_view tag;
  bool operator==(const ImageReferenceParts&) const = default;
};

/// A connection to Podman's API endpoint, used only to write the request and read the answer.
/// One thread uses it at a time; closing happens when it is destroyed.
class ApiStream {
 public:
  virtual ~ApiStream() = default;
  /// Writes every byte or fails with the system's text.
  virtual std::expected<void, std::string> write_all(std::string_view bytes) = 0;
  /// Reads what is there (blocking until something is); 0 means the other side ended.
  virtual std::expected<std::size_t, std::string> read_some(std::span<char> buffer) = 0;
};

/// Opens the endpoint for reading and writing: a named pipe on Windows, a Unix socket elsewhere.
std::expected<std::unique_ptr<ApiStream>, std::string> open_api_stream(std::string_view endpoint);

/// The path of Podman's API endpoint, asked from Podman itself by the platform word, or none
/// when Podman names none (then no pull is made).
std::optional<std::string> find_podman_api(const CommandContext& ctx);

/// Name and tag: a digest after "@", else a tag after a last ":" that no "/" follows, else
/// the whole reference with the tag "latest".
ImageReferenceParts split_image_reference(std::string_view reference);

/// The request that asks Podman to pull name:tag, inserted as they are.
std::string pull_request(std::string_view reference);

/// Why a pull failed. `refused` is set when the runtime answered the request with its own
/// error (the registry's name not found, no such image, access denied ...): `text` is then
/// that error as the runtime wrote it, and the image cannot be had now. Otherwise the API
/// itself could not be used, `text` says why for the logs of a test, and the runtime may still
/// fetch the image in its run.
struct PullFailure {
  std::string text;
  bool refused = false;
};

/// Pulls the image through the endpoint, writing progress lines at most every 3 seconds by the
/// context's clock.
std::expected<void, PullFailure> pull_image(const CommandContext& ctx, std::string_view endpoint,
                                            std::string_view reference);

/// Reads the runtime's answer to a pull request from an open stream (status line, headers and
/// the stream of JSON lines) with the progress lines of `pull_image`.
std::expected<void, PullFailure> follow_pull_answer(const CommandContext& ctx, ApiStream& stream);

/// The path of the API endpoint of the runtime ("podman" or "docker"), or none when it names
/// none. Docker's comes from its current context: a Unix socket, or a named pipe on Windows.
std::optional<std::string> find_runtime_api(const CommandContext& ctx, std::string_view runtime_command);

/// The sentence that says, in this program's words, why the image could not be fetched, from
/// the error the runtime gave: no connection, no such image, or access refused.
std::string fetch_failure_sentence(std::string_view image, std::string_view said);

/// Whether the runtime's error says that the registry could not be reached.
bool is_connection_failure(std::string_view said);

/// The text value of "<key>":"..." in a JSON line, with no escape decoded; none when absent
/// or not closed.
std::optional<std::string> json_text_field(std::string_view line, std::string_view key);

/// The run of digits right after "<key>": in a JSON line; none when absent, not a number or
/// beyond 64 bits.
std::optional<std::uint64_t> json_number_field(std::string_view line, std::string_view key);

/// Megabytes as gigabytes with one decimal: 2048 gives "2.0 GB", 1126 gives "1.1 GB".
std::string format_gigabytes(std::uint64_t megabytes);

/// Bytes as "<n> MB" below 2^30, else as format_gigabytes of the megabytes.
std::string format_size(std::uint64_t bytes);

/// The progress line for the layers pulled so far.
std::string pull_progress_line(const std::vector<PullLayer>& layers);

}  // namespace zelk
