#include "lines.h"

#include <utility>

namespace zelk {

std::string_view without_carriage_return(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::vector<std::string_view> split_lines(std::string_view text, LoneReturn lone_return) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      lines.push_back(lone_return == LoneReturn::Kept ? text : without_carriage_return(text));
      break;
    }
    lines.push_back(without_carriage_return(text.substr(0, end)));
    text.remove_prefix(end + 1);
  }
  return lines;
}

void LineCutter::add(std::string_view bytes) {
  // The lines already taken go first, so the buffer holds only what is still to come.
  buffer_.erase(0, start_);
  scanned_ -= start_;
  start_ = 0;
  buffer_.append(bytes);
}

std::optional<std::string_view> LineCutter::next() {
  const std::size_t end = buffer_.find('\n', scanned_);
  if (end == std::string::npos) {
    scanned_ = buffer_.size();
    return std::nullopt;
  }
  const std::string_view line = std::string_view(buffer_).substr(start_, end - start_);
  start_ = scanned_ = end + 1;
  return line;
}

std::string LineCutter::rest() {
  std::string last = buffer_.substr(start_);
  buffer_.clear();
  start_ = scanned_ = 0;
  return last;
}

}  // namespace zelk
