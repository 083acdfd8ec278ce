#include <gtest/gtest.h>

#include <fstream>

#include "sha256.h"
#include "test_folder.h"

namespace zelk {
namespace {

// The examples of FIPS 180-4 and its companion test vectors.
TEST(Sha256, StandardVectors) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, FileIsHashedInPiecesAcrossBufferBoundaries) {
  TestFolder folder;
  // A million "a"s crosses many read buffers and ends in the middle of one.
  const std::string text(1000000, 'a');
  std::ofstream(folder.path() / "a.bin", std::ios::binary) << text;
  EXPECT_EQ(sha256_file_hex(folder.path() / "a.bin").value(),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  std::ofstream(folder.path() / "empty.bin", std::ios::binary).flush();
  EXPECT_EQ(sha256_file_hex(folder.path() / "empty.bin").value(),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, MissingFileGivesTheSystemsText) {
  TestFolder folder;
  auto digest = sha256_file_hex(folder.path() / "absent.bin");
  ASSERT_FALSE(digest);
  EXPECT_TRUE(digest.error().ends_with("(os error 2)")) << digest.error();
}

}  // namespace
}  // namespace zelk
