#include "test_tar.h"

#include <algorithm>
#include <cstdio>

namespace zelk {

namespace {

void put(std::string& block, std::size_t at, std::size_t size, std::string_view text) {
  std::copy_n(text.begin(), std::min(size, text.size()), block.begin() + static_cast<std::ptrdiff_t>(at));
}

void put_octal(std::string& block, std::size_t at, std::size_t size, std::uint64_t value) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*llo", static_cast<int>(size - 1), static_cast<unsigned long long>(value));
  put(block, at, size - 1, digits);
}

std::string padded(std::string_view bytes) {
  std::string data(bytes);
  data.resize((data.size() + 511) / 512 * 512, '\0');
  return data;
}

}  // namespace

std::string tar_header(const TarHeader& header) {
  std::string block(512, '\0');
  put(block, 0, 100, header.name);
  put_octal(block, 100, 8, header.mode);
  put_octal(block, 108, 8, 0);
  put_octal(block, 116, 8, 0);
  if (header.base256) {
    block[124] = static_cast<char>(0x80);
    for (int i = 0; i < 8; ++i) block[135 - i] = static_cast<char>((header.size >> (8 * i)) & 0xff);
  } else {
    put_octal(block, 124, 12, header.size);
  }
  put_octal(block, 136, 12, 0);
  block[156] = header.type;
  put(block, 157, 100, header.link);
  put(block, 257, 6, std::string_view("ustar\0", 6));
  put(block, 263, 2, "00");
  put(block, 148, 8, "        ");
  unsigned sum = 0;
  for (char c : block) sum += static_cast<unsigned char>(c);
  if (header.wrong_checksum) ++sum;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06o", sum);
  put(block, 148, 6, digits);
  block[154] = '\0';
  return block;
}

std::string tar_file(std::string_view name, std::string_view bytes, unsigned mode) {
  return tar_header({std::string(name), '0', bytes.size(), {}, mode}) + padded(bytes);
}

std::string tar_entry(std::string_view name, char type, std::string_view link, unsigned mode) {
  return tar_header({std::string(name), type, 0, std::string(link), mode});
}

std::string tar_pax(const std::vector<std::pair<std::string, std::string>>& records, char type) {
  std::string data;
  for (const auto& [key, value] : records) {
    const std::string body = " " + key + "=" + value + "\n";
    // The length counts its own digits too.
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) ++length;
    data += std::to_string(length) + body;
  }
  return tar_header({"PaxHeaders/entry", type, data.size(), {}}) + padded(data);
}

std::string tar_gnu_long(char type, std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  return tar_header({"././@LongLink", type, data.size(), {}}) + padded(data);
}

std::string tar_end() { return std::string(1024, '\0'); }

}  // namespace zelk
