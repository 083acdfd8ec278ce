#pragma once
/// Reading a volume's tar archive through before anyone extracts it: every header's checksum,
/// every member's bytes present, the archive's end, and only entries that stay inside the
/// volume. It reads ustar, pax ('x' and 'g') and GNU ('L', 'K', base-256 sizes) headers, in
/// bounded memory however large the archive is. Debian packages no tar library for the Windows
/// build, so this small reader serves both. Nothing here keeps state between archives; a
/// TarCheck belongs to one thread at a time.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

/// Reads one archive as its bytes arrive. The first problem found ends the reading: after it
/// feed() ignores what comes and problem() stays as it is.
class TarCheck {
 public:
  /// Takes the next bytes of the archive.
  void feed(std::string_view bytes);

  /// Says that the archive has no more bytes; an archive that has not ended is a problem.
  void finish();

  /// What is wrong, as the end of a sentence ("the entry \"a\" is a device"), with every name
  /// from the archive shown through visible_text; none while all is well.
  const std::optional<std::string>& problem() const { return problem_; }

 private:
  enum class Part { Header, Data, Extended, Padding, End };

  void take_header(std::string_view block);
  void take_extended();
  void take_entry(std::string_view block, char type, std::uint64_t size);
  void fail(std::string detail);
  std::string header_place() const;

  Part part_ = Part::Header;
  std::string block_;             // the part of a 512-byte block that has arrived
  std::uint64_t offset_ = 0;      // bytes taken so far
  std::uint64_t header_at_ = 0;   // where the header being read began
  std::uint64_t remaining_ = 0;   // bytes of the current member still to come
  std::uint64_t padding_ = 0;     // bytes after it up to the next block
  char extended_type_ = 0;        // the kind of extended header being read
  std::string extended_;          // its bytes
  std::string current_name_;      // the entry whose bytes are being read
  int zero_blocks_ = 0;

  // What the extended headers before the next entry say.
  std::optional<std::string> pax_path_, pax_link_, long_name_, long_link_;
  std::optional<std::uint64_t> pax_size_;
  bool seen_pax_ = false;

  // Every name that is a link, as its path inside the volume.
  std::set<std::string> links_;
  std::size_t links_bytes_ = 0;

  std::optional<std::string> problem_;
};

/// Reads the whole file with a TarCheck. The error is the finished sentence that names the file
/// and what is wrong, and says that the backup is damaged or unsafe and what to do.
std::expected<void, std::string> check_volume_tar(const std::filesystem::path& file);

}  // namespace zelk
