#include "tar_check.h"

#include <algorithm>
#include <array>
#include <fstream>

#include "platform.h"
#include "unicode.h"

namespace zelk {

namespace {

constexpr std::size_t block_size = 512;
// Extended headers and GNU long names are small; more than this is no archive of a volume.
constexpr std::uint64_t extended_limit = 1 << 20;
// The names of the archive's links are kept to check every later entry against them.
constexpr std::size_t links_limit = 64u << 20;
constexpr std::uint64_t set_user_or_group = 06000;

std::string in_quotes(std::string_view text) { return "\"" + visible_text(text) + "\""; }

/// A text field of a header: up to its first zero byte.
std::string_view field(std::string_view block, std::size_t at, std::size_t size) {
  std::string_view text = block.substr(at, size);
  return text.substr(0, std::min(text.find('\0'), text.size()));
}

/// A number field: octal digits between blanks and zero bytes, or base-256 when the top bit of
/// its first byte is set (negative numbers are refused).
std::optional<std::uint64_t> number_field(std::string_view block, std::size_t at, std::size_t size) {
  const std::string_view bytes = block.substr(at, size);
  const auto first = static_cast<unsigned char>(bytes[0]);
  if ((first & 0x80) != 0) {
    if ((first & 0x40) != 0) return std::nullopt;
    std::uint64_t value = first & 0x3f;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
      if (value > (UINT64_MAX >> 9)) return std::nullopt;
      value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return value;
  }
  std::size_t begin = 0;
  std::size_t end = bytes.size();
  while (begin < end && (bytes[begin] == ' ' || bytes[begin] == '\0')) ++begin;
  while (end > begin && (bytes[end - 1] == ' ' || bytes[end - 1] == '\0')) --end;
  std::uint64_t value = 0;
  for (std::size_t i = begin; i < end; ++i) {
    if (bytes[i] < '0' || bytes[i] > '7' || value > (UINT64_MAX >> 4)) return std::nullopt;
    value = value * 8 + static_cast<std::uint64_t>(bytes[i] - '0');
  }
  return value;
}

bool all_zero(std::string_view block) {
  return std::all_of(block.begin(), block.end(), [](char c) { return c == '\0'; });
}

/// Whether the stored checksum is the sum of the header's bytes with the checksum field taken
/// as blanks, counted unsigned or (as some old writers did) signed.
bool checksum_holds(std::string_view block) {
  const std::optional<std::uint64_t> stored = number_field(block, 148, 8);
  if (!stored) return false;
  std::int64_t as_unsigned = 0;
  std::int64_t as_signed = 0;
  for (std::size_t i = 0; i < block_size; ++i) {
    const char c = (i >= 148 && i < 156) ? ' ' : block[i];
    as_unsigned += static_cast<unsigned char>(c);
    as_signed += static_cast<signed char>(c);
  }
  const auto sum = static_cast<std::int64_t>(*stored);
  return sum == as_unsigned || sum == as_signed;
}

std::vector<std::string_view> components(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

/// The path inside the volume, its empty and "." parts left out.
std::vector<std::string_view> inside_parts(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::string_view part : components(path)) {
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

std::string joined(const std::vector<std::string_view>& parts, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += '/';
    text += parts[i];
  }
  return text;
}

bool climbs(std::string_view path) {
  const std::vector<std::string_view> parts = components(path);
  return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

/// Whether a link at `name` (inside the volume) pointing to `target` reaches outside it.
bool leaves_volume(const std::vector<std::string_view>& name, std::string_view target) {
  if (target.starts_with('/')) return true;
  std::int64_t depth = static_cast<std::int64_t>(name.size()) - 1;
  for (std::string_view part : components(target)) {
    if (part == "..") {
      if (--depth < 0) return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
  }
  return false;
}

std::optional<std::uint64_t> decimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || value > UINT64_MAX / 10 - 9) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

void TarCheck::fail(std::string detail) {
  if (!problem_) problem_ = std::move(detail);
}

std::string TarCheck::header_place() const { return "at byte " + std::to_string(header_at_); }

void TarCheck::feed(std::string_view bytes) {
  while (!bytes.empty() && !problem_) {
    switch (part_) {
      case Part::Header: {
        const std::size_t take = std::min(block_size - block_.size(), bytes.size());
        block_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        offset_ += take;
        if (block_.size() == block_size) {
          header_at_ = offset_ - block_size;
          const std::string block = std::move(block_);
          block_.clear();
          take_header(block);
        }
        break;
      }
      case Part::Data:
      case Part::Padding: {
        std::uint64_t& left = part_ == Part::Data ? remaining_ : padding_;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
        bytes.remove_prefix(take);
        offset_ += take;
        left -= take;
        if (left == 0) part_ = part_ == Part::Data && padding_ > 0 ? Part::Padding : Part::Header;
        break;
      }
      case Part::Extended: {
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, bytes.size()));
        extended_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        offset_ += take;
        remaining_ -= take;
        if (remaining_ == 0) {
          take_extended();
          if (part_ == Part::Extended) part_ = padding_ > 0 ? Part::Padding : Part::Header;
        }
        break;
      }
      case Part::End:
        // Writers may fill the last record with zeros; anything else would be read by a tool
        // that goes on past the end, and by none that stops there.
        if (!all_zero(bytes)) fail("it holds more after the archive's end");
        offset_ += bytes.size();
        bytes = {};
        break;
    }
  }
}

void TarCheck::finish() {
  if (problem_ || part_ == Part::End) return;
  if (part_ == Part::Header) {
    fail("it ends before the archive's end");
  } else {
    fail("it ends inside the entry " + in_quotes(current_name_));
  }
}

void TarCheck::take_header(std::string_view block) {
  const bool pending = pax_path_ || pax_link_ || pax_size_ || long_name_ || long_link_ || seen_pax_;
  if (all_zero(block)) {
    if (++zero_blocks_ == 2) {
      if (pending) fail("it ends right after an extended header, before its entry");
      part_ = Part::End;
    }
    return;
  }
  if (zero_blocks_ > 0) {
    fail("it has an empty block among its entries, at byte " + std::to_string(header_at_ - block_size));
    return;
  }
  const std::string name(field(block, 0, 100));
  const std::string place = name.empty() ? header_place() : "of the entry " + in_quotes(name);
  if (!checksum_holds(block)) return fail("the header " + place + " has a wrong checksum");
  const std::optional<std::uint64_t> size = number_field(block, 124, 12);
  if (!size) return fail("the header " + place + " has no readable size");
  const char type = block[156];

  if (type == 'x' || type == 'g' || type == 'L' || type == 'K') {
    const bool again = ((type == 'x' || type == 'g') && seen_pax_) || (type == 'L' && long_name_) ||
                       (type == 'K' && long_link_);
    if (type == 'g' ? pending : again) return fail("the extended header " + header_place() + " follows another");
    if (*size > extended_limit) return fail("the extended header " + header_place() + " cannot be read");
    if (type != 'g') seen_pax_ = seen_pax_ || type == 'x';
    extended_type_ = type;
    extended_.clear();
    current_name_ = name;
    remaining_ = *size;
    padding_ = (block_size - *size % block_size) % block_size;
    part_ = Part::Extended;
    if (remaining_ == 0) {
      take_extended();
      if (part_ == Part::Extended) part_ = Part::Header;
    }
    return;
  }
  take_entry(block, type, pax_size_.value_or(*size));
}

void TarCheck::take_extended() {
  const std::string at = header_place();
  if (extended_type_ == 'L' || extended_type_ == 'K') {
    std::string text = extended_.substr(0, std::min(extended_.find('\0'), extended_.size()));
    (extended_type_ == 'L' ? long_name_ : long_link_) = std::move(text);
    return;
  }
  // Records of "<length> <key>=<value>\n", the length counting the whole record.
  std::string_view rest = extended_;
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    const std::optional<std::uint64_t> length =
        blank == std::string_view::npos ? std::nullopt : decimal(rest.substr(0, blank));
    if (!length || *length <= blank + 1 || *length > rest.size() || rest[*length - 1] != '\n') {
      return fail("the extended header " + at + " cannot be read");
    }
    const std::string_view record = rest.substr(blank + 1, *length - blank - 2);
    rest.remove_prefix(*length);
    const std::size_t equals = record.find('=');
    if (equals == std::string_view::npos) return fail("the extended header " + at + " cannot be read");
    const std::string_view key = record.substr(0, equals);
    const std::string_view value = record.substr(equals + 1);
    if (key != "path" && key != "linkpath" && key != "size") continue;
    // Extractors differ in whether a global header renames what follows; none of a volume does.
    if (extended_type_ == 'g') return fail("the global header " + at + " sets names or sizes for the entries after it");
    if (value.find('\0') != std::string_view::npos) return fail("the extended header " + at + " cannot be read");
    if (key == "size") {
      pax_size_ = decimal(value);
      if (!pax_size_) return fail("the extended header " + at + " cannot be read");
    } else {
      (key == "path" ? pax_path_ : pax_link_) = std::string(value);
    }
  }
}

void TarCheck::take_entry(std::string_view block, char type, std::uint64_t size) {
  // Every name that some extractor might take for the entry is checked: the header's own, with
  // and without the ustar prefix, the GNU long name and the pax path.
  std::string header_name(field(block, 0, 100));
  std::vector<std::string> names{header_name};
  if (block.substr(257, 6) == std::string_view("ustar\0", 6)) {
    const std::string_view prefix = field(block, 345, 155);
    if (!prefix.empty()) names.insert(names.begin(), std::string(prefix) + "/" + header_name);
  }
  if (pax_path_) names.push_back(*pax_path_);
  if (long_name_) names.push_back(*long_name_);
  std::vector<std::string> targets{std::string(field(block, 157, 100))};
  if (pax_link_) targets.push_back(*pax_link_);
  if (long_link_) targets.push_back(*long_link_);
  const std::string shown = names.back();  // what the runtime's own reader takes
  pax_path_.reset();
  pax_link_.reset();
  pax_size_.reset();
  long_name_.reset();
  long_link_.reset();
  seen_pax_ = false;

  const std::string entry = "the entry " + in_quotes(shown);
  const std::string header_of = "the header of the entry " + in_quotes(shown);
  for (const std::string& name : names) {
    if (name.starts_with('/')) return fail("the entry " + in_quotes(name) + " has an absolute name");
    if (climbs(name)) return fail("the entry " + in_quotes(name) + " leads out of the volume with \"..\"");
    if (inside_parts(name).empty() && type != '5') {
      return fail("the entry " + in_quotes(name) + " names the volume itself");
    }
  }

  const bool plain = type == '0' || type == '\0' || type == '7';
  if (type == '3' || type == '4') return fail(entry + " is a device");
  if (type == '6') return fail(entry + " is a named pipe (fifo)");
  if (!plain && type != '1' && type != '2' && type != '5') {
    return fail(entry + " is of a kind no volume holds (type " + in_quotes(std::string_view(&type, 1)) + ")");
  }
  const std::optional<std::uint64_t> mode = number_field(block, 100, 8);
  if (!mode) return fail(header_of + " has no readable mode");
  if ((*mode & set_user_or_group) != 0) return fail(entry + " has the set-user or set-group bit");
  // Readers differ in whether a link or a folder has bytes after its header; none of a volume's do.
  if (!plain && size != 0) return fail(header_of + " gives a size to what holds no bytes");

  for (const std::string& name : names) {
    const std::vector<std::string_view> parts = inside_parts(name);
    for (std::size_t count = 1; count <= parts.size(); ++count) {
      const std::string prefix = joined(parts, count);
      if (links_.contains(prefix)) {
        return fail("the entry " + in_quotes(name) + " would be written through the link " + in_quotes(prefix) +
                    " made before it");
      }
    }
  }

  bool is_link = type == '2';
  if (type == '2') {
    for (const std::string& target : targets) {
      for (const std::string& name : names) {
        if (leaves_volume(inside_parts(name), target)) {
          return fail(entry + " is a link to " + in_quotes(target) + ", outside the volume");
        }
      }
    }
  } else if (type == '1') {
    for (const std::string& target : targets) {
      if (target.starts_with('/') || climbs(target)) {
        return fail(entry + " is a hard link to " + in_quotes(target) + ", outside the volume");
      }
      const std::vector<std::string_view> parts = inside_parts(target);
      for (std::size_t count = 1; count < parts.size(); ++count) {
        const std::string prefix = joined(parts, count);
        if (links_.contains(prefix)) {
          return fail(entry + " is a hard link to " + in_quotes(target) + ", through the link " + in_quotes(prefix));
        }
      }
      // A hard link to a link is a link itself.
      if (links_.contains(joined(parts, parts.size()))) is_link = true;
    }
  }
  if (is_link) {
    for (const std::string& name : names) {
      std::string path = joined(inside_parts(name), inside_parts(name).size());
      links_bytes_ += path.size() + 32;
      if (links_bytes_ > links_limit) return fail("it holds more links than the reader keeps track of");
      links_.insert(std::move(path));
    }
  }

  current_name_ = shown;
  remaining_ = plain ? size : 0;
  padding_ = (block_size - remaining_ % block_size) % block_size;
  if (remaining_ > 0) part_ = Part::Data;
}

std::expected<void, std::string> check_volume_tar(const std::filesystem::path& file) {
  const std::string name = path_to_utf8(file);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::unexpected(name + " cannot be read, so nothing was restored. Check that the backup folder is yours "
                                  "and readable, then restore again.");
  }
  TarCheck check;
  std::array<char, 65536> buffer{};
  while (!check.problem()) {
    in.read(buffer.data(), buffer.size());
    const std::streamsize got = in.gcount();
    if (got > 0) check.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (in.bad()) {
      return std::unexpected(name + " cannot be read to its end, so nothing was restored. Check that the backup "
                                    "folder is yours and readable, then restore again.");
    }
    if (in.eof()) break;
  }
  check.finish();
  if (check.problem()) {
    return std::unexpected(name + " cannot be put back: " + *check.problem() +
                           ". The backup is damaged or unsafe, so nothing was restored. Restore from another copy "
                           "of it, or from a backup you made yourself with \"zelk backup\".");
  }
  return {};
}

}  // namespace zelk
