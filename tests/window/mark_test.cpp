#include "mark.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sha256.h"

namespace zelk {
namespace {

struct Rgba {
  int red, green, blue, alpha;
  bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgba& p) {
  return out << "(" << p.red << ", " << p.green << ", " << p.blue << ", " << p.alpha << ")";
}

Rgba pixel(const std::vector<std::uint8_t>& image, std::uint32_t n, std::uint32_t column, std::uint32_t row) {
  const std::size_t at = (static_cast<std::size_t>(row) * n + column) * 4;
  return {image[at], image[at + 1], image[at + 2], image[at + 3]};
}

constexpr Rgba square{237, 241, 235, 255};
constexpr Rgba dot{148, 170, 144, 255};
constexpr Rgba stroke{23, 28, 24, 255};

TEST(Mark, HasFourBytesForEveryPixel) {
  for (std::uint32_t n : {0u, 1u, 2u, 7u, 8u, 16u, 32u, 33u, 64u, 128u}) {
    EXPECT_EQ(draw_mark(n).size(), 4u * n * n) << n;
  }
}

TEST(Mark, CornersAreTransparentAtTheSizesInUse) {
  // Below 8 pixels the corner pixels reach into the rounded square: no size the program uses.
  for (std::uint32_t n : {8u, 32u, 64u, 128u}) {
    const auto image = draw_mark(n);
    for (auto [column, row] : {std::array{0u, 0u}, {n - 1, 0u}, {0u, n - 1}, {n - 1, n - 1}}) {
      EXPECT_EQ(pixel(image, n, column, row), (Rgba{0, 0, 0, 0})) << n << " " << column << "," << row;
    }
  }
}

TEST(Mark, ShapesHaveTheirColoursAtKnownPlaces) {
  const std::uint32_t n = 128;  // 36 design units over 128 pixels: a pixel is 0.28125 units
  const auto image = draw_mark(n);
  // The centre (18, 18) is plain square.
  EXPECT_EQ(pixel(image, n, 64, 64), square);
  EXPECT_EQ(pixel(image, n, 63, 63), square);
  // The dot's centre (18, 11) lies in pixel (64, 39); the left upright at x = 9 in column 32.
  EXPECT_EQ(pixel(image, n, 64, 39), dot);
  EXPECT_EQ(pixel(image, n, 32, 64), stroke);
  // The crossbar at y = 21 (row 74) between the uprights, and the middle of the arch's left
  // curve, (14.625, 15.125).
  EXPECT_EQ(pixel(image, n, 50, 74), stroke);
  EXPECT_EQ(pixel(image, n, 52, 53), stroke);
  // The arch's top (18, 13), in row 46, lies within the dot's radius too: the dot is drawn over
  // the stroke.
  EXPECT_EQ(pixel(image, n, 64, 46), dot);
}

TEST(Mark, EdgePixelsCountOnlyTheSamplesInsideAndAreNeverDarkened) {
  // At 128 pixels the sample columns lie at (s + 0.5) * 36 / 512: column 5 holds samples
  // 20 to 23, of which 21 to 23 lie right of the edge at 1.5; column 122 holds 488 to 491, of
  // which 488 to 490 lie left of 34.5. Row 64 is on the straight part of the edge.
  const auto big = draw_mark(128);
  const Rgba three_quarters{237, 241, 235, (12 * 255) >> 4};
  EXPECT_EQ(pixel(big, 128, 5, 64), three_quarters);
  EXPECT_EQ(pixel(big, 128, 122, 64), three_quarters);
  EXPECT_EQ(pixel(big, 128, 64, 5), three_quarters);
  EXPECT_EQ(pixel(big, 128, 64, 122), three_quarters);
  // At 108 pixels a sample column lies at (s + 0.5) / 12: column 4 holds 16 to 19, and only
  // 18 and 19 lie right of 1.5, so 8 of 16 samples count.
  const auto odd = draw_mark(108);
  EXPECT_EQ(pixel(odd, 108, 4, 54), (Rgba{237, 241, 235, 127}));
}

TEST(Mark, EveryPixelIsAMeanOfTheThreeColours) {
  for (std::uint32_t n : {32u, 64u, 128u}) {
    const auto image = draw_mark(n);
    for (std::uint32_t row = 0; row < n; ++row) {
      for (std::uint32_t column = 0; column < n; ++column) {
        const Rgba p = pixel(image, n, column, row);
        if (p.alpha == 0) {
          ASSERT_EQ(p, (Rgba{0, 0, 0, 0})) << n << " " << column << "," << row;
          continue;
        }
        // alpha is (k * 255) >> 4 for k samples, 1 to 16
        bool alpha_of_a_count = false;
        for (int k = 1; k <= 16; ++k) alpha_of_a_count |= p.alpha == ((k * 255) >> 4);
        ASSERT_TRUE(alpha_of_a_count) << p;
        ASSERT_GE(p.red, stroke.red);
        ASSERT_LE(p.red, square.red);
        ASSERT_GE(p.green, stroke.green);
        ASSERT_LE(p.green, square.green);
        ASSERT_GE(p.blue, stroke.blue);
        ASSERT_LE(p.blue, square.blue);
      }
    }
  }
}

TEST(Mark, IsTheSameByteForByteOnEveryBuild) {
  // Computed once from this drawing (and matched by a second drawing in single precision written
  // apart from it); a change in the arithmetic, its order or the platform's floating point shows
  // here, in the Linux and the Windows build alike.
  const struct {
    std::uint32_t n;
    const char* sha256;
  } sizes[] = {
      {32, "653eb456f90dfc47deb4b83709c4c6b129cde620bba947c66c2377c99bec1001"},
      {64, "ea4e7c9d5076a3038f5e3caff20d6eed27c2edc931ba929162d714e01292744b"},
      {128, "e3fdb5e85b7601b83cdea710791b00687176d0c2b8f338a93c67d54aed276c8d"},
  };
  for (const auto& size : sizes) {
    const auto image = draw_mark(size.n);
    EXPECT_EQ(sha256_hex(std::string(image.begin(), image.end())), size.sha256) << size.n;
  }
}

}  // namespace
}  // namespace zelk
