#include "runner.h"

#include "lines.h"

namespace zelk {

std::expected<RunOutput, RunError> CommandRunner::run_captured_lines(const std::string& program,
                                                                    const std::vector<std::string>& args,
                                                                    std::chrono::nanoseconds limit,
                                                                    const OutputLineFn& each_line) const {
  auto run = run_captured(program, args, limit);
  if (run) {
    for (const std::string_view line : split_lines(run->stdout_text)) each_line(line);
  }
  return run;
}

std::expected<RunOutput, RunError> CommandRunner::run_captured_bounded(const std::string& program,
                                                                      const std::vector<std::string>& args,
                                                                      std::chrono::nanoseconds limit,
                                                                      const RunBounds& bounds) const {
  auto run = run_captured(program, args, limit);
  if (run && (run->stdout_text.size() > bounds.output_bytes || (bounds.passed && bounds.passed()))) {
    return std::unexpected(RunError::too_large());
  }
  return run;
}

std::expected<RunOutput, RunError> SystemRunner::run_captured_bounded(const std::string& program,
                                                                      const std::vector<std::string>& args,
                                                                      std::chrono::nanoseconds limit,
                                                                      const RunBounds& bounds) const {
  return captured(program, args, limit, nullptr, &bounds);
}

std::expected<RunOutput, RunError> SystemRunner::run_captured(const std::string& program,
                                                              const std::vector<std::string>& args,
                                                              std::chrono::nanoseconds limit) const {
  return captured(program, args, limit, nullptr);
}

std::expected<RunOutput, RunError> SystemRunner::run_captured_lines(const std::string& program,
                                                                    const std::vector<std::string>& args,
                                                                    std::chrono::nanoseconds limit,
                                                                    const OutputLineFn& each_line) const {
  return captured(program, args, limit, &each_line);
}

std::string fmt_run_error(const RunError& error) {
  switch (error.kind) {
    case RunError::Kind::NotFound: return "the program was not found";
    case RunError::Kind::TimedOut: return "no answer in time";
    case RunError::Kind::TooLarge: return "more than was expected";
    case RunError::Kind::Os: return error.text;
  }
  return error.text;
}

std::string decode_utf8_lossy(std::string_view bytes) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";
  std::string text;
  text.reserve(bytes.size());
  const std::size_t size = bytes.size();
  std::size_t at = 0;
  while (at < size) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80) {
      text.push_back(static_cast<char>(lead));
      ++at;
      continue;
    }
    // The well-formed sequences: the lead byte fixes the length and the range of the
    // second byte; every later byte is 80..BF.
    std::size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead == 0xE0) {
      length = 3;
      second_low = 0xA0;
    } else if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF) {
      length = 3;
    } else if (lead == 0xED) {
      length = 3;
      second_high = 0x9F;
    } else if (lead == 0xF0) {
      length = 4;
      second_low = 0x90;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
      length = 4;
    } else if (lead == 0xF4) {
      length = 4;
      second_high = 0x8F;
    } else {
      text.append(replacement);
      ++at;
      continue;
    }
    // Take continuation bytes while they fit; the bytes taken form the maximal subpart that
    // one replacement character stands for when the sequence breaks off.
    std::size_t next = at + 1;
    bool complete = true;
    for (std::size_t index = 1; index < length; ++index, ++next) {
      if (next >= size) {
        complete = false;
        break;
      }
      const auto byte = static_cast<unsigned char>(bytes[next]);
      const unsigned char low = index == 1 ? second_low : 0x80;
      const unsigned char high = index == 1 ? second_high : 0xBF;
      if (byte < low || byte > high) {
        complete = false;
        break;
      }
    }
    if (complete) {
      text.append(bytes.substr(at, length));
    } else {
      text.append(replacement);
    }
    at = next;
  }
  return text;
}

std::string quote_windows_argument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  // Backslashes are literal except before a double quote, where each pair gives one
  // backslash; so a run that precedes a quote (ours at the end, or a literal one) is doubled.
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string windows_command_line(std::string_view program, const std::vector<std::string>& args) {
  // The program's own name is split by simpler rules (quotes only group, backslashes are
  // literal), and a file name cannot hold a double quote: quoting it whole is enough.
  std::string line;
  if (program.empty() || program.find_first_of(" \t") != std::string_view::npos) {
    line.append("\"").append(program).append("\"");
  } else {
    line.append(program);
  }
  for (const std::string& arg : args) {
    line.push_back(' ');
    line.append(quote_windows_argument(arg));
  }
  return line;
}

std::string error_code_text(const std::error_code& error) {
  return error.message() + " (os error " + std::to_string(error.value()) + ")";
}

}  // namespace zelk
