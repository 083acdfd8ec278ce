#pragma once
// Tar archives built byte by byte in a test, good or hostile: ustar headers with a right
// checksum (or, on request, a wrong one), pax and GNU extended headers, and the archive's end.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelk {

/// One header block. `size` goes in as octal, or in base-256 when `base256` is set.
struct TarHeader {
  std::string name;
  char type = '0';
  std::uint64_t size = 0;
  std::string link;
  unsigned mode = 0644;
  bool base256 = false;
  bool wrong_checksum = false;
};

/// The 512 bytes of the header.
std::string tar_header(const TarHeader& header);

/// A plain file's header and its bytes, padded to whole blocks.
std::string tar_file(std::string_view name, std::string_view bytes, unsigned mode = 0644);

/// A header without bytes: a folder ('5'), a link ('2' with its target), a hard link ('1'),
/// a device ('3', '4') or a fifo ('6').
std::string tar_entry(std::string_view name, char type, std::string_view link = {}, unsigned mode = 0644);

/// A pax extended header ('x', or 'g' for a global one) with the records (key, value).
std::string tar_pax(const std::vector<std::pair<std::string, std::string>>& records, char type = 'x');

/// A GNU long name ('L') or long link name ('K') header with its text.
std::string tar_gnu_long(char type, std::string_view text);

/// The two zero blocks that end an archive.
std::string tar_end();

}  // namespace zelk
