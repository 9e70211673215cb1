// The pure parts of the rendering job, tried directly: page file names, the
// page limits, the PNG encoder read back by libpng, and the page writer's
// all-or-nothing files.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "codecs/png_encoder.h"
#include "png_reader.h"
#include "render/convert_pdf_to_images.h"
#include "render/page_file_name.h"
#include "render/page_geometry.h"
#include "render/png_writer.h"
#include "support/pdf_fixtures.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

using platform::IoStatus;

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(PageFileName, WidthFollowsThePageCount) {
  struct Case {
    std::int32_t page, count;
    const char* name;
  };
  const Case cases[] = {
      {1, 1, "page_001.png"},        {12, 12, "page_012.png"},     {1, 999, "page_001.png"},
      {999, 999, "page_999.png"},    {1, 1000, "page_0001.png"},   {1000, 1000, "page_1000.png"},
      {1, 123456, "page_000001.png"}, {123456, 123456, "page_123456.png"},
      // The number is padded, never cut.
      {1234, 12, "page_1234.png"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(render::makePageFileName(c.page, c.count), c.name) << c.page << " of " << c.count;
  }
}

TEST(PageGeometry, WhichPagesCanBeMeasured) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double width, height;
    std::int32_t rotation;
    bool renderable;
  };
  const Case cases[] = {
      {612, 792, 0, true}, {612, 792, 3, true},  {0.1, 0.1, 1, true},  {612, 792, 4, false},
      {612, 792, -1, false}, {inf, 792, 0, false}, {612, inf, 0, false}, {nan, 792, 0, false},
      {612, nan, 0, false},  {0, 792, 0, false},   {612, 0, 0, false},   {-1, 792, 0, false},
      {612, -0.5, 0, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(render::isRenderablePage(c.width, c.height, c.rotation), c.renderable)
        << c.width << " x " << c.height << " rotation " << c.rotation;
  }
}

TEST(PageGeometry, BitmapSizesAndTheirLimits) {
  struct Case {
    double width, height;
    bool fits;
    std::int32_t w, h, stride;
    std::uint64_t bytes;
  };
  const Case cases[] = {
      {612, 792, true, 1224, 1584, 3672, 5816448},
      {595.276, 841.89, true, 1191, 1684, 3576, 3576ull * 1684},
      {0.1, 0.1, true, 1, 1, 4, 4},
      {1e-9, 1e-9, true, 1, 1, 4, 4},
      {2730.5, 8192, true, 5461, 16384, 16384, 268435456},  // exactly 256 MiB
      {2730.5, 8192.5, false, 0, 0, 0, 0},                  // one row more
      {14400, 14400, false, 0, 0, 0, 0},
      {1e10, 1, false, 0, 0, 0, 0},           // a side beyond the int32 range
      {1, 1e10, false, 0, 0, 0, 0},
      {357913941, 1, false, 0, 0, 0, 0},      // the widest row allowed, still too large
      {357913941.5, 1, false, 0, 0, 0, 0},    // a row too wide to address
      {1073741823.5, 0.5, false, 0, 0, 0, 0}, // exactly the int32 maximum wide
  };
  for (const Case& c : cases) {
    const auto size = render::pageBitmapSize(c.width, c.height);
    ASSERT_EQ(size.has_value(), c.fits) << c.width << " x " << c.height;
    if (!size) continue;
    EXPECT_EQ(size->width, c.w) << c.width;
    EXPECT_EQ(size->height, c.h) << c.height;
    EXPECT_EQ(size->stride, c.stride) << c.width;
    EXPECT_EQ(size->bytes, c.bytes) << c.width << " x " << c.height;
  }
}

// Random rows with flat stretches, as pages have, and padding bytes that
// must never reach the file.
struct TestImage {
  std::vector<std::uint8_t> bytes;
  codecs::BgrImage view;
};

TestImage makeImage(std::uint32_t width, std::uint32_t height, std::uint32_t stride,
                    unsigned seed) {
  TestImage image;
  image.bytes.assign(size_t{stride} * height, 0xAB);
  std::mt19937 random(seed);
  for (std::uint32_t y = 0; y < height; ++y) {
    const bool flat = random() % 3 == 0;
    for (std::uint32_t i = 0; i < width * 3; ++i) {
      image.bytes[size_t{y} * stride + i] = flat ? 0xF0 : static_cast<std::uint8_t>(random());
    }
  }
  image.view = {image.bytes.data(), width, height, stride};
  return image;
}

std::string encodeToString(const codecs::BgrImage& image, const codecs::PngSettings& settings) {
  std::string out;
  const IoStatus status = codecs::encodePng(
      image,
      [&out](const std::uint8_t* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return IoStatus::ok;
      },
      settings);
  if (status != IoStatus::ok) throw std::runtime_error("encoding failed");
  return out;
}

TEST(PngEncoder, EveryFilterDecodesToTheSamePixels) {
  struct Shape {
    std::uint32_t width, height, stride;
  };
  // The last two: more compressed data than one IDAT chunk holds, in bands
  // that do not divide the height; rows too long for a whole band.
  const Shape shapes[] = {{1, 1, 4},      {5, 3, 16},       {1, 100, 3},        {100, 1, 300},
                          {257, 64, 772}, {800, 700, 2400}, {30000, 20, 90000}};
  const codecs::PngSettings settings[] = {{0, codecs::PngFilter::none},
                                          {1, codecs::PngFilter::sub},
                                          {2, codecs::PngFilter::up},
                                          {3, codecs::PngFilter::adaptive},
                                          {}};
  unsigned seed = 0;
  for (const Shape& s : shapes) {
    const TestImage image = makeImage(s.width, s.height, s.stride, ++seed);
    for (const auto& setting : settings) {
      const DecodedPng png = decodePng(encodeToString(image.view, setting));
      ASSERT_EQ(png.width, s.width);
      ASSERT_EQ(png.height, s.height);
      EXPECT_EQ(png.bitDepth, 8);
      EXPECT_EQ(png.colorType, 2);
      EXPECT_TRUE(png.hasPhys);
      EXPECT_EQ(png.physX, 5669u);
      EXPECT_EQ(png.physY, 5669u);
      EXPECT_EQ(png.physUnit, 1);
      for (std::uint32_t y = 0; y < s.height; ++y) {
        for (std::uint32_t x = 0; x < s.width; ++x) {
          const std::uint8_t* bgr = image.bytes.data() + size_t{y} * s.stride + x * 3;
          ASSERT_EQ(png.at(x, y), (std::vector<int>{bgr[2], bgr[1], bgr[0]}))
              << s.width << "x" << s.height << " at " << x << "," << y << " level "
              << setting.level;
        }
      }
    }
  }
}

TEST(PngEncoder, RefusesImagesItCannotEncodeAndPassesOnSinkFailures) {
  const TestImage image = makeImage(4, 4, 12, 7);
  int calls = 0;
  const codecs::PngSink counting = [&calls](const std::uint8_t*, size_t) {
    ++calls;
    return IoStatus::ok;
  };
  const codecs::BgrImage refused[] = {
      {nullptr, 4, 4, 12}, {image.bytes.data(), 0, 4, 12}, {image.bytes.data(), 4, 0, 12},
      {image.bytes.data(), 4, 4, 11}};
  for (const auto& view : refused) EXPECT_EQ(codecs::encodePng(view, counting), IoStatus::other);
  EXPECT_EQ(codecs::encodePng(image.view, counting, {4, codecs::PngFilter::none}), IoStatus::other);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(codecs::encodePng(image.view,
                                [](const std::uint8_t*, size_t) { return IoStatus::diskFull; }),
            IoStatus::diskFull);
}

class PngWriter : public testing::Test {
 protected:
  std::u16string target(const std::string& name) const { return wide(dir_ / name); }
  TempDir dir_;
  TestImage image_ = makeImage(5, 3, 16, 3);
};

TEST_F(PngWriter, BadArgumentsTouchNothing) {
  writeFile(dir_ / "page.png.tmp", "stale");
  struct Case {
    const std::uint8_t* pixels;
    std::uint32_t width, height, stride;
  };
  const std::uint8_t* p = image_.bytes.data();
  const Case cases[] = {{nullptr, 5, 3, 16},
                        {p, 0, 3, 16},
                        {p, 5, 0, 16},
                        {p, 5, 3, 14},                       // rows shorter than the width
                        {p, 1, 65536, 65536},                // height * stride beyond 32 bits
                        {p, 0x40000000, 4, 0xFFFFFFFF}};
  for (const Case& c : cases) {
    EXPECT_EQ(render::writePngFile(target("page.png"), c.pixels, c.width, c.height, c.stride),
              platform::IoStatus::other);
  }
  EXPECT_EQ(listDir(dir_.str()), std::vector<std::string>{"page.png.tmp"});
  EXPECT_EQ(readFile(dir_ / "page.png.tmp"), "stale");
}

TEST_F(PngWriter, WritesACompleteFileAndLeavesNoTemporaryOne) {
  writeFile(dir_ / "page.png.tmp", "left by an interrupted run");
  ASSERT_EQ(render::writePngFile(target("page.png"), image_.bytes.data(), 5, 3, 16),
            platform::IoStatus::ok);
  EXPECT_EQ(listDir(dir_.str()), std::vector<std::string>{"page.png"});
  const DecodedPng png = decodePng(readFile(dir_ / "page.png"));
  EXPECT_EQ(png.width, 5u);  // the padding of the 16-byte rows is not there
  EXPECT_EQ(png.rgb.size(), 5u * 3 * 3);
  EXPECT_EQ(pngcheckProblems(dir_ / "page.png"), "");
}

TEST_F(PngWriter, NeverReplacesAnExistingFile) {
  writeFile(dir_ / "page.png", "an earlier page");
  EXPECT_EQ(render::writePngFile(target("page.png"), image_.bytes.data(), 5, 3, 16),
            platform::IoStatus::other);
  EXPECT_EQ(readFile(dir_ / "page.png"), "an earlier page");
  EXPECT_EQ(listDir(dir_.str()), std::vector<std::string>{"page.png"});
}

TEST_F(PngWriter, MissingDirectoryIsNotWritten) {
  EXPECT_EQ(render::writePngFile(target("missing/page.png"), image_.bytes.data(), 5, 3, 16),
            platform::IoStatus::other);
  EXPECT_TRUE(listDir(dir_.str()).empty());
}

// The driver called directly, for what the command line cannot reach.
TEST(ConvertPdfToImages, PathsPdfiumCannotBeGivenAndAnEmptyCallback) {
  TempDir dir;
  writeFile(dir / "in.pdf", makePdf({PageSpec{}}));
  int calls = 0;
  const protocol::ProgressCallback counting = [&calls](std::int32_t, std::int32_t,
                                                       const std::string&) { ++calls; };
  // A lone surrogate that stands for no byte has no form on this system.
  const std::u16string unpaired = wide(dir.str()) + u"/\xD800.pdf";
  for (const std::u16string& path : {unpaired, wide(dir / "missing.pdf")}) {
    const protocol::JobResult r = render::convertPdfToImages(path, wide(dir.str()), counting);
    EXPECT_EQ(r.result.code, 20);
    EXPECT_EQ(std::string(r.result.name), "CANNOT_READ");
    EXPECT_EQ(r.count, 0);
  }
  EXPECT_EQ(calls, 0);

  const protocol::JobResult done =
      render::convertPdfToImages(wide(dir / "in.pdf"), wide(dir.str()), nullptr);
  EXPECT_EQ(done.result.code, 0);
  EXPECT_EQ(std::string(done.result.name), "");
  EXPECT_EQ(done.count, 1);
  EXPECT_EQ(listDir(dir.str()), (std::vector<std::string>{"in.pdf", "page_001.png"}));
}

}  // namespace
}  // namespace folio::test
