#pragma once
/// SHA-256 (FIPS 180-4) as lower-case hexadecimal, computed by libgcrypt.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// The SHA-256 of the bytes: 64 lower-case hexadecimal digits.
std::string sha256_hex(std::string_view bytes);

/// The HMAC-SHA256 (RFC 2104) of the bytes under the key: 64 lower-case hexadecimal digits.
std::string hmac_sha256_hex(std::string_view key, std::string_view bytes);

/// The SHA-256 of a file's bytes, read in pieces; or the system's text when it cannot be read.
std::expected<std::string, std::string> sha256_file_hex(const std::filesystem::path& path);

}  // namespace zelk
