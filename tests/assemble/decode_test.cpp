// decodeImage on every fixture, and the pixel work behind it: each file's
// size, resolution and sampled colours as its generator's table gives them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "assemble/decode_image.h"
#include "fixtures.h"
#include "platform/native_path_posix.h"

namespace folio::test {
namespace {

using assemble::DecodedImage;
using assemble::Transform;

bool decode(const std::string& path, DecodedImage* image) {
  const auto factory = codecs::createImagingFactory();
  return assemble::decodeImage(factory.get(), platform::argumentToWide(path), image);
}

TEST(DecodeImage, EveryFixtureAsItsTableSays) {
  for (const Fixture& f : loadFixtures()) {
    SCOPED_TRACE(f.file);
    DecodedImage image;
    const bool ok = decode(fixturePath(f.file), &image);  // "any" only has to come back
    if (f.outcome == "any") continue;
    ASSERT_EQ(ok, f.outcome != "unreadable");
    if (!ok) continue;
    ASSERT_EQ(image.width, f.width);
    ASSERT_EQ(image.height, f.height);
    EXPECT_NEAR(image.dpiX, f.dpiX, 1e-3);
    EXPECT_NEAR(image.dpiY, f.dpiY, 1e-3);
    // Rows of whole 32-bit words, padded with white.
    const std::uint32_t stride = (f.width * 3 + 3) / 4 * 4;
    ASSERT_EQ(image.stride, stride);
    ASSERT_EQ(image.pixels.size(), std::size_t{stride} * f.height);
    for (std::size_t y = 0; y < f.height; ++y) {
      for (std::size_t i = f.width * 3; i < stride; ++i) ASSERT_EQ(image.pixels[y * stride + i], 0xFF);
    }
    for (const Sample& s : f.samples) {
      EXPECT_TRUE(shows(&image.pixels[std::size_t{s.y} * stride + s.x * 3], s, f.tolerance));
    }
  }
}

// The peak resident memory of this process since the mark: what a decode
// allocated and touched.
long long peakBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6) * 1024;
  }
  ADD_FAILURE() << "no VmHWM";
  return 0;
}

long long growthOf(const std::function<void()>& run) {
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const long long start = peakBytes();
  run();
  return peakBytes() - start;
}

TEST(DecodeImage, TheLargestImageDecodesAndOneRowMoreIsRefusedBeforeAnyBuffer) {
  DecodedImage image;
  const long long most = growthOf([&] {
    ASSERT_TRUE(decode(fixturePath("limit-8192x8192.png"), &image));
    EXPECT_EQ(image.pixels.size(), 8192u * 24576u);
    EXPECT_EQ(image.pixels.back(), 0x5A);
  });
  EXPECT_GT(most, 400ll << 20);  // the measurement sees the buffers
  image = {};
  // The same rows under a header that declares one more: decoding would
  // fill every row the data holds before noticing the missing one.
  EXPECT_LT(growthOf([&] { EXPECT_FALSE(decode(fixturePath("limit-8192x8193.png"), &image)); }),
            16ll << 20);
}

// 256 by 256 pixels: they cross the blocks a quarter turn is walked in,
// opaque squares take the four-pixel path, and the others hold alphas all
// through the range. Checked against each transform's geometry written as
// coordinates, and straight alpha over white rounded to nearest.
TEST(Upright, EveryTransformPlacesAndFlattensEveryPixel) {
  constexpr std::uint32_t n = 256;
  const auto alphaAt = [](std::uint32_t x, std::uint32_t y) {
    return (x / 8 + y / 8) % 2 == 0 ? 255u : (x * 7 + y * 13) & 255;
  };
  std::vector<std::uint8_t> stored(n * n * 4);
  for (std::uint32_t y = 0; y < n; ++y) {
    for (std::uint32_t x = 0; x < n; ++x) {
      const std::uint8_t pixel[4] = {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y),
                                     std::uint8_t(alphaAt(x, y))};
      std::memcpy(&stored[(y * n + x) * 4], pixel, 4);
    }
  }
  const auto over = [](unsigned c, unsigned a) {
    return std::uint8_t(std::lround((c * a + 255.0 * (255 - a)) / 255.0));
  };
  constexpr std::uint32_t m = n - 1;
  struct Case {
    Transform transform;
    std::uint32_t (*sx)(std::uint32_t x, std::uint32_t y);  // the stored pixel shown at (x, y)
    std::uint32_t (*sy)(std::uint32_t x, std::uint32_t y);
  };
  using U = std::uint32_t;
  const Case cases[] = {
      {Transform::none, [](U x, U) { return x; }, [](U, U y) { return y; }},
      {Transform::flipHorizontal, [](U x, U) { return m - x; }, [](U, U y) { return y; }},
      {Transform::rotate180, [](U x, U) { return m - x; }, [](U, U y) { return m - y; }},
      {Transform::flipVertical, [](U x, U) { return x; }, [](U, U y) { return m - y; }},
      {Transform::rotate90, [](U, U y) { return y; }, [](U x, U) { return m - x; }},
      {Transform::rotate270, [](U, U y) { return m - y; }, [](U x, U) { return x; }},
      {Transform::rotate90FlipHorizontal, [](U, U y) { return y; }, [](U x, U) { return x; }},
      {Transform::rotate270FlipHorizontal, [](U, U y) { return m - y; }, [](U x, U) { return m - x; }},
  };
  std::vector<std::uint8_t> out(n * n * 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.transform));
    assemble::flattenUpright(stored.data(), n, n, c.transform, out.data(), n * 3);
    for (std::uint32_t y = 0; y < n; ++y) {
      for (std::uint32_t x = 0; x < n; ++x) {
        const std::uint32_t sx = c.sx(x, y), sy = c.sy(x, y), a = alphaAt(sx, sy);
        const std::uint8_t* p = &out[(y * n + x) * 3];
        ASSERT_EQ(p[0], over(sx, a)) << x << "," << y;
        ASSERT_EQ(p[1], over(sy, a)) << x << "," << y;
        ASSERT_EQ(p[2], over(sx ^ sy, a)) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace folio::test
