#include "mark.h"

#include <array>
#include <cmath>

namespace zelk {

namespace {

// The design space is 36 x 36 units, x to the right and y downwards. All arithmetic is in
// single precision, with every operation spelt out, so the bytes are the same on every
// platform and build.
struct Point {
  float x;
  float y;
};

struct Segment {
  Point from;
  Point to;
};

struct Colour {
  std::uint32_t red;
  std::uint32_t green;
  std::uint32_t blue;
};

constexpr Colour dot_colour{148, 170, 144};     // #94AA90
constexpr Colour stroke_colour{23, 28, 24};     // #171C18
constexpr Colour square_colour{237, 241, 235};  // #EDF1EB

constexpr float centre = 18.0f;
constexpr float square_inset = 7.5f;  // half-size 7.5 + 9: the square spans 1.5 to 34.5
constexpr float corner_radius = 9.0f;
constexpr Point dot_centre{18.0f, 11.0f};
constexpr float dot_radius = 2.25f;
constexpr float stroke_half_width = 1.125f;
constexpr int curve_steps = 12;

// The figure: two uprights and a crossbar, then an arch drawn as two cubic curves of 12
// straight pieces each.
std::vector<Segment> figure_segments() {
  std::vector<Segment> segments = {
      {{9.0f, 25.0f}, {9.0f, 12.0f}},
      {{27.0f, 25.0f}, {27.0f, 12.0f}},
      {{9.0f, 21.0f}, {27.0f, 21.0f}},
  };
  const std::array<std::array<Point, 4>, 2> curves = {{
      {{{12.0f, 21.0f}, {13.0f, 16.0f}, {16.0f, 13.0f}, {18.0f, 13.0f}}},
      {{{18.0f, 13.0f}, {20.0f, 13.0f}, {23.0f, 16.0f}, {24.0f, 21.0f}}},
  }};
  for (const auto& p : curves) {
    Point previous = p[0];
    for (int k = 1; k <= curve_steps; ++k) {
      const float t = static_cast<float>(k) / static_cast<float>(curve_steps);
      const float u = 1.0f - t;
      const float a = u * u * u;
      const float b = 3.0f * u * u * t;
      const float c = 3.0f * u * t * t;
      const float d = t * t * t;
      const Point next{a * p[0].x + b * p[1].x + c * p[2].x + d * p[3].x,
                       a * p[0].y + b * p[1].y + c * p[2].y + d * p[3].y};
      segments.push_back({previous, next});
      previous = next;
    }
  }
  return segments;
}

float distance_to_segment(float x, float y, const Segment& s) {
  const float dx = s.to.x - s.from.x;
  const float dy = s.to.y - s.from.y;
  const float length_squared = dx * dx + dy * dy;
  float t = 0.0f;
  if (length_squared > 0.0f) {
    t = ((x - s.from.x) * dx + (y - s.from.y) * dy) / length_squared;
    if (t < 0.0f) t = 0.0f;
    if (t > 1.0f) t = 1.0f;
  }
  const float nearest_x = s.from.x + t * dx;
  const float nearest_y = s.from.y + t * dy;
  const float ex = x - nearest_x;
  const float ey = y - nearest_y;
  return std::sqrt(ex * ex + ey * ey);
}

bool outside_square(float x, float y) {
  const float ox = std::fmax(std::fabs(x - centre) - square_inset, 0.0f);
  const float oy = std::fmax(std::fabs(y - centre) - square_inset, 0.0f);
  return std::sqrt(ox * ox + oy * oy) > corner_radius;
}

// The colour at one sample point, or none outside the rounded square.
const Colour* sample_colour(float x, float y, const std::vector<Segment>& segments) {
  if (outside_square(x, y)) return nullptr;
  const float ddx = x - dot_centre.x;
  const float ddy = y - dot_centre.y;
  if (std::sqrt(ddx * ddx + ddy * ddy) <= dot_radius) return &dot_colour;
  for (const Segment& segment : segments) {
    if (distance_to_segment(x, y, segment) <= stroke_half_width) return &stroke_colour;
  }
  return &square_colour;
}

}  // namespace

std::vector<std::uint8_t> draw_mark(std::uint32_t n) {
  const std::vector<Segment> segments = figure_segments();
  const std::size_t size = n;
  std::vector<std::uint8_t> pixels(size * size * 4);
  const float step = 36.0f / (4.0f * static_cast<float>(n));
  for (std::size_t i = 0; i < size; ++i) {
    for (std::size_t j = 0; j < size; ++j) {
      std::uint32_t counted = 0;
      Colour sum{0, 0, 0};
      for (std::size_t l = 0; l < 4; ++l) {
        const float y = (static_cast<float>(4 * i + l) + 0.5f) * step;
        for (std::size_t m = 0; m < 4; ++m) {
          const float x = (static_cast<float>(4 * j + m) + 0.5f) * step;
          const Colour* colour = sample_colour(x, y, segments);
          if (colour == nullptr) continue;
          ++counted;
          sum.red += colour->red;
          sum.green += colour->green;
          sum.blue += colour->blue;
        }
      }
      std::uint8_t* pixel = &pixels[(i * size + j) * 4];
      if (counted > 0) {
        pixel[0] = static_cast<std::uint8_t>(sum.red / counted);
        pixel[1] = static_cast<std::uint8_t>(sum.green / counted);
        pixel[2] = static_cast<std::uint8_t>(sum.blue / counted);
      }
      pixel[3] = static_cast<std::uint8_t>((counted * 255) >> 4);
    }
  }
  return pixels;
}

}  // namespace zelk
