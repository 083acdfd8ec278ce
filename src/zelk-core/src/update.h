#pragma once
/// Updates of the program itself: the list of versions on the maker's website, the download
/// of the named installer with its size and SHA-256 checks, and the installer's detached start.
/// The apps' containers are never touched.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runner.h"

namespace zelk {

/// The first word of the list's lines for this build's platform ("windows-x64" on Windows,
/// "linux-x64" on Linux).
extern const std::string_view update_platform_word;

/// The newest installer the list names for this platform.
struct UpdateOffer {
  std::string version;
  std::string file;    ///< the installer's file name
  std::string sha256;  ///< 64 lower-case hexadecimal digits
  std::uint64_t size = 0;
  bool operator==(const UpdateOffer&) const = default;
};

/// A version text read for comparison: the dotted numbers before the first "-" (a part that is
/// not a number counts as 0) and the dotted pre-release parts after it.
struct VersionNumber {
  std::vector<std::uint64_t> numbers;
  std::vector<std::string> pre;
  bool operator==(const VersionNumber&) const = default;
};

/// The largest installer a list may name.
inline constexpr std::uint64_t installer_size_limit = 104857600;

/// ZELK_UPDATE_ADDRESS when it is set, valid UTF-8 and not empty; else the maker's list.
std::string update_list_address();

/// 1 to 40 bytes: an ASCII digit, then ASCII letters, digits, "." and "-".
bool is_version_text(std::string_view text);

VersionNumber parse_version(std::string_view text);

/// Semantic Versioning precedence with any number of leading numbers (a missing number is 0).
bool is_newer_version(std::string_view candidate, std::string_view running);

/// Reads a list of versions for `platform_word`: the offer when it names a version newer than
/// `running_version`, none when it does not, or the message when the list cannot be used.
std::expected<std::optional<UpdateOffer>, std::string> read_version_list(
    std::string_view text, std::string_view running_version,
    std::string_view platform_word = update_platform_word);

/// Fetches the list from update_list_address() and reads it for this platform. Without curl
/// the message points to the maker's download page, as download_update's does.
std::expected<std::optional<UpdateOffer>, std::string> check_for_update(
    const CommandRunner& runner, std::string_view running_version);

/// <home>/update, where the installer lies while it is fetched, checked and run.
std::filesystem::path update_folder(const std::filesystem::path& home);

/// The list address's scheme and host, then "/downloads/" and the file name.
std::string installer_address(std::string_view list_address, std::string_view file);

/// Fetches the offer's installer into <home>/update and checks its size and SHA-256; a file that
/// fails a check is deleted. Gives the installer's path or the message.
std::expected<std::filesystem::path, std::string> download_update(const std::filesystem::path& home,
                                                                  const CommandRunner& runner,
                                                                  const UpdateOffer& offer);

/// The installer's arguments: silent, no message boxes, no restart, and "/TRAY=window" when
/// the window program starts it.
std::vector<std::string> installer_arguments(bool tray);

/// Process creation flags for the installer's start: detached, a new process group, and
/// breaking away from the job the program may run in.
inline constexpr std::uint32_t installer_flags_breakaway = 0x01000208;
inline constexpr std::uint32_t installer_flags_plain = 0x208;

/// Starts the installer with its streams on the null device, inheriting nothing else of this
/// program (no pipe, socket or file it has open), and does not wait for it. The
/// flags are Windows process creation flags; elsewhere the start is always detached. Gives
/// the system's error text when the start fails.
std::expected<void, std::string> start_installer(const std::filesystem::path& path, bool tray,
                                                 std::uint32_t creation_flags);

using InstallerStarter =
    std::function<std::expected<void, std::string>(const std::filesystem::path&, bool, std::uint32_t)>;

/// Starts the installer breaking away from the job, then once more without when that fails;
/// "The installer could not be started: <error of the second start>" when both fail.
std::expected<void, std::string> launch_installer(const std::filesystem::path& path, bool tray,
                                                  const InstallerStarter& starter = start_installer);

}  // namespace zelk
