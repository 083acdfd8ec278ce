// A process that replaces one file over and over through write_file_atomically, or reads it
// over and over, for the test of two programs writing one file at the same moment.
//   file_replacer write PATH TAG COUNT   writes the texts TAG/0 .. TAG/COUNT-1 in turn; prints
//                                        "failed <n>" and the first failure, exit code 1 when
//                                        any write failed
//   file_replacer read PATH STOPFILE     reads PATH until STOPFILE exists and checks that each
//                                        read is one whole text of some writer; prints
//                                        "torn <n> failed <n>" (the first bad read on standard
//                                        error, and the number of reads), exit code 1 when
//                                        any read was bad
// Every text names its writer and number in its first line and has a length of its own, so a
// text made of two writes never passes for one.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "wide_win.h"
#endif

namespace {

std::string text_for(const std::string& tag, unsigned long number) {
  std::string text = "zelk-write " + tag + " " + std::to_string(number) + "\n";
  const std::size_t size = 256 + (number * 7919u) % 30000u;
  const std::string piece = tag + ":" + std::to_string(number) + ";";
  while (text.size() < size) text += piece;
  text += "\nend " + tag + " " + std::to_string(number) + "\n";
  return text;
}

// Whether the text is exactly one that text_for makes.
bool is_whole(const std::string& text) {
  const std::string head = "zelk-write ";
  if (!text.starts_with(head)) return false;
  const std::size_t line_end = text.find('\n');
  const std::size_t blank = text.find(' ', head.size());
  if (line_end == std::string::npos || blank == std::string::npos || blank > line_end) return false;
  const std::string tag = text.substr(head.size(), blank - head.size());
  const std::string digits = text.substr(blank + 1, line_end - blank - 1);
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  return text == text_for(tag, std::stoul(digits));
}

void print(const std::string& text, std::FILE* stream) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

int write_many(const std::filesystem::path& path, const std::string& tag, unsigned long count) {
  unsigned long failed = 0;
  std::string first;
  for (unsigned long number = 0; number < count; ++number) {
    auto written = zelk::write_file_atomically(path, text_for(tag, number));
    if (!written) {
      if (failed++ == 0) first = written.error();
    }
  }
  print("failed " + std::to_string(failed) + "\n", stdout);
  if (failed > 0) print(first + "\n", stderr);
  return failed == 0 ? 0 : 1;
}

int read_until(const std::filesystem::path& path, const std::filesystem::path& stop) {
  unsigned long reads = 0, torn = 0, failed = 0;
  std::string first;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(10);
  while (std::chrono::steady_clock::now() < give_up) {
    std::error_code ignored;
    const bool last = std::filesystem::exists(stop, ignored);
    auto text = zelk::read_file(path);
    ++reads;
    if (!text) {
      if (failed++ == 0 && torn == 0) first = "read failed: " + text.error();
    } else if (!is_whole(*text)) {
      if (torn++ == 0 && failed == 0) {
        first = "torn: " + text->substr(0, 80) + " ... (" + std::to_string(text->size()) + " bytes)";
      }
    }
    if (last) break;
  }
  print("torn " + std::to_string(torn) + " failed " + std::to_string(failed) + "\n", stdout);
  print("reads " + std::to_string(reads) + "\n" + first + (first.empty() ? "" : "\n"), stderr);
  return torn == 0 && failed == 0 ? 0 : 1;
}

int run(const std::vector<std::string>& args) {
  if (args.size() == 4 && args[0] == "write") {
    return write_many(zelk::path_from_utf8(args[1]), args[2], std::stoul(args[3]));
  }
  if (args.size() == 3 && args[0] == "read") {
    return read_until(zelk::path_from_utf8(args[1]), zelk::path_from_utf8(args[2]));
  }
  print("usage: file_replacer write PATH TAG COUNT | read PATH STOPFILE\n", stderr);
  return 2;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zelk::from_wide_lossy(argv[i]));
  return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
