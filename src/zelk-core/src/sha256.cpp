#include "sha256.h"

#include <gcrypt.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <system_error>

#include "runner.h"

namespace zelk {

namespace {

// libgcrypt must be initialised once before its first use, from any thread. Hashing needs no
// secure memory, so that is switched off rather than warned about.
void ensure_gcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (gcry_check_version(GCRYPT_VERSION) == nullptr) std::abort();
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

std::string hex_of(const unsigned char* digest) {
  constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (int i = 0; i < 32; ++i) {
    hex.push_back(digits[digest[i] >> 4]);
    hex.push_back(digits[digest[i] & 0x0F]);
  }
  return hex;
}

// Owns one digest context.
class Sha256 {
 public:
  Sha256() : Sha256(0u) {}
  /// An HMAC-SHA256 under the key.
  explicit Sha256(std::string_view key) : Sha256(GCRY_MD_FLAG_HMAC) {
    if (gcry_md_setkey(handle_, key.data(), key.size()) != 0) std::abort();
  }
  ~Sha256() { gcry_md_close(handle_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void add(const void* bytes, std::size_t size) { gcry_md_write(handle_, bytes, size); }
  std::string hex() { return hex_of(gcry_md_read(handle_, GCRY_MD_SHA256)); }

 private:
  explicit Sha256(unsigned int flags) {
    ensure_gcrypt();
    if (gcry_md_open(&handle_, GCRY_MD_SHA256, flags) != 0) std::abort();
  }

  gcry_md_hd_t handle_ = nullptr;
};

}  // namespace

std::string sha256_hex(std::string_view bytes) {
  Sha256 digest;
  digest.add(bytes.data(), bytes.size());
  return digest.hex();
}

std::string hmac_sha256_hex(std::string_view key, std::string_view bytes) {
  Sha256 digest(key);
  digest.add(bytes.data(), bytes.size());
  return digest.hex();
}

std::expected<std::string, std::string> sha256_file_hex(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::unexpected(error_code_text(std::error_code(errno ? errno : ENOENT, std::generic_category())));
  Sha256 digest;
  std::array<char, 1 << 16> buffer{};
  while (in) {
    in.read(buffer.data(), buffer.size());
    digest.add(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::unexpected(error_code_text(std::error_code(EIO, std::generic_category())));
  return digest.hex();
}

}  // namespace zelk
