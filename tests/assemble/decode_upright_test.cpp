// The pixel work of the decoder on its own: which transform each EXIF
// orientation asks for, where every pixel lands, and the flattening onto white.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "assemble/upright.h"

namespace folio::assemble {
namespace {

TEST(Upright, OrientationTable) {
  struct Case {
    std::uint32_t orientation;
    Transform transform;
    bool quarter;
  };
  const Case cases[] = {
      {1, Transform::none, false},
      {2, Transform::flipHorizontal, false},
      {3, Transform::rotate180, false},
      {4, Transform::flipVertical, false},
      {5, Transform::rotate90FlipHorizontal, true},
      {6, Transform::rotate90, true},
      {7, Transform::rotate270FlipHorizontal, true},
      {8, Transform::rotate270, true},
      {0, Transform::none, false},
      {9, Transform::none, false},
      {65535, Transform::none, false},
      {65539, Transform::none, false},  // 3 in the low 16 bits only
  };
  for (const auto& c : cases) {
    EXPECT_EQ(transformForOrientation(c.orientation), c.transform) << c.orientation;
    EXPECT_EQ(turnsQuarter(c.transform), c.quarter) << c.orientation;
  }
}

TEST(Upright, StrideRoundsRowsUpToFourBytes) {
  const std::pair<std::uint32_t, std::uint64_t> cases[] = {
      {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {8192, 24576}, {0xFFFFFFFFu, 12884901888u}};
  for (const auto& [width, stride] : cases) EXPECT_EQ(strideForWidth(width), stride) << width;
}

TEST(Upright, CompositeIsNearestOverWhiteForEveryInput) {
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned c = 0; c < 256; ++c) {
      // Straight alpha over opaque white, in real numbers, then rounded.
      const double exact = (c * a + 255.0 * (255 - a)) / 255.0;
      ASSERT_EQ(compositeOverWhite(std::uint8_t(c), std::uint8_t(a)), std::lround(exact))
          << c << " at " << a;
    }
  }
  EXPECT_EQ(compositeOverWhite(0, 128), 127);
  EXPECT_EQ(compositeOverWhite(17, 0), 255);
  EXPECT_EQ(compositeOverWhite(17, 255), 17);
}

// Stored 3 by 2, each pixel one letter:  a b c
//                                         d e f
TEST(Upright, EveryTransformPlacesEveryPixel) {
  struct Case {
    Transform transform;
    std::uint32_t width, height;
    const char* rows;  // the upright image, row after row
  };
  const Case cases[] = {
      {Transform::none, 3, 2, "abcdef"},
      {Transform::flipHorizontal, 3, 2, "cbafed"},
      {Transform::rotate180, 3, 2, "fedcba"},
      {Transform::flipVertical, 3, 2, "defabc"},
      {Transform::rotate90FlipHorizontal, 2, 3, "adbecf"},
      {Transform::rotate90, 2, 3, "daebfc"},
      {Transform::rotate270FlipHorizontal, 2, 3, "fcebda"},
      {Transform::rotate270, 2, 3, "cfbead"},
  };
  std::vector<std::uint8_t> stored(6 * 4);
  for (std::size_t i = 0; i < 6; ++i) {
    const auto letter = static_cast<std::uint8_t>('a' + i);
    stored[i * 4] = letter;
    stored[i * 4 + 1] = letter + 32;
    stored[i * 4 + 2] = letter + 64;
    stored[i * 4 + 3] = 255;
  }
  for (const auto& c : cases) {
    const std::size_t stride = strideForWidth(c.width);
    std::vector<std::uint8_t> out(stride * c.height, 0xFF);
    flattenUpright(stored.data(), 3, 2, c.transform, out.data(), stride);
    std::string seen;
    for (std::uint32_t y = 0; y < c.height; ++y) {
      for (std::uint32_t x = 0; x < c.width; ++x) {
        const std::uint8_t* p = &out[y * stride + x * 3];
        EXPECT_EQ(p[1], p[0] + 32);
        EXPECT_EQ(p[2], p[0] + 64);
        seen += static_cast<char>(p[0]);
      }
      for (std::size_t i = c.width * 3; i < stride; ++i) EXPECT_EQ(out[y * stride + i], 0xFF);
    }
    EXPECT_EQ(seen, c.rows) << int(c.transform);
  }
}

// Large enough to cross the blocks a quarter turn is walked in and to take
// the four-pixel path, with translucent pixels scattered through it; checked
// against the geometry of each transform written as coordinates.
TEST(Upright, EveryTransformOnALargerImage) {
  constexpr std::uint32_t w = 150, h = 70;
  const auto alphaAt = [](std::uint32_t x, std::uint32_t y) {
    return (x * 3 + y) % 11 == 0 ? std::uint8_t(x + y) : std::uint8_t(255);
  };
  std::vector<std::uint8_t> stored(std::size_t{w} * h * 4);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::uint32_t x = 0; x < w; ++x) {
      std::uint8_t* p = &stored[(std::size_t{y} * w + x) * 4];
      p[0] = std::uint8_t(x);
      p[1] = std::uint8_t(y);
      p[2] = std::uint8_t(x ^ y);
      p[3] = alphaAt(x, y);
    }
  }
  using Coordinate = std::uint32_t (*)(std::uint32_t x, std::uint32_t y);
  struct Case {
    Transform transform;
    Coordinate sx, sy;  // the stored pixel shown at upright (x, y)
  };
  const Case cases[] = {
      {Transform::none, [](std::uint32_t x, std::uint32_t) { return x; },
       [](std::uint32_t, std::uint32_t y) { return y; }},
      {Transform::flipHorizontal, [](std::uint32_t x, std::uint32_t) { return w - 1 - x; },
       [](std::uint32_t, std::uint32_t y) { return y; }},
      {Transform::rotate180, [](std::uint32_t x, std::uint32_t) { return w - 1 - x; },
       [](std::uint32_t, std::uint32_t y) { return h - 1 - y; }},
      {Transform::flipVertical, [](std::uint32_t x, std::uint32_t) { return x; },
       [](std::uint32_t, std::uint32_t y) { return h - 1 - y; }},
      {Transform::rotate90, [](std::uint32_t, std::uint32_t y) { return y; },
       [](std::uint32_t x, std::uint32_t) { return h - 1 - x; }},
      {Transform::rotate270, [](std::uint32_t, std::uint32_t y) { return w - 1 - y; },
       [](std::uint32_t x, std::uint32_t) { return x; }},
      {Transform::rotate90FlipHorizontal, [](std::uint32_t, std::uint32_t y) { return y; },
       [](std::uint32_t x, std::uint32_t) { return x; }},
      {Transform::rotate270FlipHorizontal, [](std::uint32_t, std::uint32_t y) { return w - 1 - y; },
       [](std::uint32_t x, std::uint32_t) { return h - 1 - x; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.transform));
    const std::uint32_t outWidth = turnsQuarter(c.transform) ? h : w;
    const std::uint32_t outHeight = turnsQuarter(c.transform) ? w : h;
    const std::size_t stride = strideForWidth(outWidth);
    std::vector<std::uint8_t> out(stride * outHeight, 0xFF);
    flattenUpright(stored.data(), w, h, c.transform, out.data(), stride);
    for (std::uint32_t y = 0; y < outHeight; ++y) {
      for (std::uint32_t x = 0; x < outWidth; ++x) {
        const std::uint8_t* p = &out[y * stride + x * 3];
        const std::uint32_t sx = c.sx(x, y), sy = c.sy(x, y);
        const std::uint8_t a = alphaAt(sx, sy);
        ASSERT_EQ(p[0], compositeOverWhite(std::uint8_t(sx), a)) << x << "," << y;
        ASSERT_EQ(p[1], compositeOverWhite(std::uint8_t(sy), a)) << x << "," << y;
        ASSERT_EQ(p[2], compositeOverWhite(std::uint8_t(sx ^ sy), a)) << x << "," << y;
      }
      for (std::size_t i = outWidth * 3; i < stride; ++i) ASSERT_EQ(out[y * stride + i], 0xFF);
    }
  }
}

TEST(Upright, FlatteningUsesAlphaOfEachPixel) {
  const std::uint8_t stored[] = {10, 20, 30, 0, 10, 20, 30, 255, 0, 200, 100, 128, 200, 50, 0, 100};
  std::vector<std::uint8_t> out(12, 0);
  flattenUpright(stored, 4, 1, Transform::none, out.data(), 12);
  const std::vector<std::uint8_t> expected = {255, 255, 255, 10,  20,  30,
                                              127, 227, 177, 233, 175, 155};
  EXPECT_EQ(out, expected);
}

// The flattening pass looks values up rather than dividing: every colour at
// every alpha must still come out as the formula gives it.
TEST(Upright, FlatteningMatchesTheFormulaForEveryInput) {
  std::vector<std::uint8_t> stored(256 * 256 * 4);
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned c = 0; c < 256; ++c) {
      std::uint8_t* p = &stored[(a * 256 + c) * 4];
      p[0] = std::uint8_t(c);
      p[1] = std::uint8_t(255 - c);
      p[2] = std::uint8_t(c * 7);
      p[3] = std::uint8_t(a);
    }
  }
  std::vector<std::uint8_t> out(256 * 768);
  flattenUpright(stored.data(), 256, 256, Transform::none, out.data(), 768);
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned c = 0; c < 256; ++c) {
      const std::uint8_t* p = &out[a * 768 + c * 3];
      const auto alpha = std::uint8_t(a);
      ASSERT_EQ(p[0], compositeOverWhite(std::uint8_t(c), alpha)) << c << " at " << a;
      ASSERT_EQ(p[1], compositeOverWhite(std::uint8_t(255 - c), alpha)) << c << " at " << a;
      ASSERT_EQ(p[2], compositeOverWhite(std::uint8_t(c * 7), alpha)) << c << " at " << a;
    }
  }
}

}  // namespace
}  // namespace folio::assemble
