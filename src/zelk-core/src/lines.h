#pragma once
/// Cutting text into lines, the one way every part of the system does it: a whole text with
/// split_lines, a stream as its bytes arrive with LineCutter. A line ends at "\n"; a "\r"
/// before it belongs to the line end wherever a reader drops it (without_carriage_return).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

/// The line without the "\r" of a "\r\n" line end, when it has one.
std::string_view without_carriage_return(std::string_view line);

/// What a "\r" that ends the last line of a text without a final "\n" is: dropped, as every
/// other line's is, or kept, where a "\r" belongs to a line end only right before a "\n".
enum class LoneReturn { Dropped, Kept };

/// The lines of a text: split at "\n", a final "\r" of each line dropped, and no empty last
/// line for a text that ends with "\n" (so an empty text has no lines). Views into `text`.
std::vector<std::string_view> split_lines(std::string_view text, LoneReturn lone_return = LoneReturn::Dropped);

/// Cuts a stream at line feeds as its bytes arrive: add() what arrived, then take each whole
/// line with next(); once the stream has ended, rest() is its last line, which had no "\n".
class LineCutter {
 public:
  void add(std::string_view bytes);
  /// The next whole line, without its "\n" (a "\r" before it is kept); none until its "\n" has
  /// arrived. The view is valid until the next add() or rest().
  std::optional<std::string_view> next();
  /// What came after the last line feed, and the cutter is empty again.
  std::string rest();

 private:
  std::string buffer_;
  std::size_t start_ = 0;    // where the next line begins
  std::size_t scanned_ = 0;  // up to here the buffer holds no "\n" after start_
};

}  // namespace zelk
