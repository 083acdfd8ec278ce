#pragma once
/// A folder built under a working name and given its final name only when all of it is on disk:
/// a crash, a full disk or a stop leaves the working folder or nothing, never a half that looks
/// whole. Every entry is made anew by this program, never taken over from whoever made the name
/// first (in a shared folder, another user may have), and is its owner's alone. Errors are the
/// system's text: "<message> (os error <code>)".

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// Why an entry could not be made or named: `taken` when something already has its name.
struct FreshError {
  std::string text;
  bool taken = false;
};

/// Makes the folder itself (not its parents), failing as taken when anything is at its path,
/// and checks that what is there now is a folder of this user and no link to one. On Linux and
/// macOS it is readable by its owner only (0700).
std::expected<void, FreshError> make_fresh_folder(const std::filesystem::path& folder);

/// Creates the file, failing as taken when anything is at its path (a link included, which is
/// never followed), writes the bytes and puts them on disk. On Linux and macOS it is readable
/// and writable by its owner only (0600). A file left half-written by a failure is removed.
std::expected<void, FreshError> write_fresh_file(const std::filesystem::path& path, std::string_view bytes);

/// Puts what another program wrote into the file on disk. A link at the path is not followed.
std::expected<void, std::string> sync_file(const std::filesystem::path& path);

/// Puts the folder's list of entries on disk (on Windows the file system does that itself).
std::expected<void, std::string> sync_folder(const std::filesystem::path& folder);

/// Gives the folder the new name in one step, failing as taken when anything has that name:
/// an existing folder, even an empty one, is never replaced.
std::expected<void, FreshError> rename_fresh_folder(const std::filesystem::path& from, const std::filesystem::path& to);

/// Whether the system's error text says a disk is full ("no space left on device" on Linux and
/// macOS, "There is not enough space on the disk." on Windows), in any case.
bool says_disk_full(std::string_view text);

}  // namespace zelk
