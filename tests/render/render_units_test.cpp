// The pure parts of the rendering job, for what the worker's command line
// cannot reach: page counts beyond a test document, page sizes no PDF
// fixture yields, and the PNG filters the worker does not choose.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "codecs/png_encoder.h"
#include "png_reader.h"
#include "render/page_file_name.h"
#include "render/page_geometry.h"

namespace folio::test {
namespace {

TEST(PageFileName, WidthFollowsThePageCount) {
  EXPECT_EQ(render::makePageFileName(999, 999), "page_999.png");
  EXPECT_EQ(render::makePageFileName(1, 99999), "page_00001.png");
  EXPECT_EQ(render::makePageFileName(123456, 123456), "page_123456.png");
}

TEST(PageGeometry, WhichPagesCanBeMeasuredAndHowLarge) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  // Width, height, rotation: each refused.
  const std::tuple<double, double, std::int32_t> refused[] = {
      {612, 792, 4}, {612, 792, -1}, {inf, 792, 0}, {612, inf, 0}, {nan, 792, 0},
      {612, nan, 0}, {0, 792, 0},    {612, 0, 0},   {-1, 792, 0},  {612, -0.5, 0}};
  for (const auto& [width, height, rotation] : refused) {
    EXPECT_FALSE(render::isRenderablePage(width, height, rotation)) << width << " x " << height;
  }
  EXPECT_TRUE(render::isRenderablePage(612, 792, 3));
  EXPECT_TRUE(render::isRenderablePage(0.1, 0.1, 0));
  // Width, height: pixels wide, high, row stride and bytes at 2 pixels a
  // point, all 0 for a page refused.
  const std::tuple<double, double, std::int32_t, std::int32_t, std::int32_t, std::uint64_t>
      sizes[] = {{612, 792, 1224, 1584, 3672, 5816448},
                 {1e-9, 1e-9, 1, 1, 4, 4},
                 {2730.5, 8192, 5461, 16384, 16384, 268435456},  // exactly 256 MiB
                 {2730.5, 8192.5, 0, 0, 0, 0},                   // one row more
                 {1e10, 1, 0, 0, 0, 0},                          // a side beyond the int32 range
                 {1, 1e10, 0, 0, 0, 0},
                 {357913941, 1, 0, 0, 0, 0},        // the widest row allowed, still too large
                 {357913941.5, 1, 0, 0, 0, 0},      // a row too wide to address
                 {1073741823.5, 0.5, 0, 0, 0, 0}};  // exactly the int32 maximum wide
  for (const auto& [width, height, w, h, stride, bytes] : sizes) {
    const auto size = render::pageBitmapSize(width, height);
    const render::PageBitmapSize got = size.value_or(render::PageBitmapSize{0, 0, 0, 0});
    EXPECT_EQ(std::make_tuple(got.width, got.height, got.stride, got.bytes),
              std::make_tuple(w, h, stride, bytes))
        << width << " x " << height;
  }
}

// Every filter and level gives back the pixels libpng reads: random rows with
// flat stretches, as pages have, and padding bytes that must never reach the
// file. The last three shapes: more compressed data than one IDAT chunk
// holds, in bands that do not divide the height; rows too long for a whole
// band; rows of over a MiB, taken in pieces.
TEST(PngEncoder, EveryFilterDecodesToTheSamePixels) {
  const std::uint32_t shapes[][3] = {{1, 1, 4},          {5, 3, 16},          {1, 100, 3},
                                     {100, 1, 300},      {257, 64, 772},      {800, 700, 2400},
                                     {30000, 20, 90000}, {400000, 2, 1200004}};
  const codecs::PngSettings settings[] = {{0, codecs::PngFilter::none},
                                          {1, codecs::PngFilter::sub},
                                          {2, codecs::PngFilter::up},
                                          {3, codecs::PngFilter::adaptive},
                                          {}};
  std::mt19937 random(1);
  for (const auto& [width, height, stride] : shapes) {
    std::vector<std::uint8_t> bgr(size_t{stride} * height, 0xAB), rgb;  // rgb: what a reader sees
    for (std::uint32_t y = 0; y < height; ++y) {
      const bool flat = random() % 3 == 0;
      for (std::uint32_t i = 0; i < width * 3; ++i) {
        bgr[size_t{y} * stride + i] = flat ? 0xF0 : static_cast<std::uint8_t>(random());
      }
      for (std::uint32_t i = 0; i < width * 3; ++i)
        rgb.push_back(bgr[size_t{y} * stride + i / 3 * 3 + 2 - i % 3]);
    }
    for (const auto& setting : settings) {
      std::string file;
      const auto sink = [&file](const std::uint8_t* data, size_t size) {
        file.append(reinterpret_cast<const char*>(data), size);
        return platform::IoStatus::ok;
      };
      ASSERT_EQ(codecs::encodePng({bgr.data(), width, height, stride}, sink, setting),
                platform::IoStatus::ok);
      const DecodedPng png = decodePng(file);
      EXPECT_EQ(std::vector<std::uint32_t>({png.width, png.height, png.bitDepth, png.colorType,
                                            png.physX, png.physY, png.physUnit}),
                std::vector<std::uint32_t>({width, height, 8, 2, 5669, 5669, 1}));
      EXPECT_TRUE(png.rgb == rgb) << width << "x" << height << " level " << setting.level;
    }
  }
}

}  // namespace
}  // namespace folio::test
