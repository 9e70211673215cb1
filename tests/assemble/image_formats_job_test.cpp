// Every image format the decoders are asked to read, through the real
// binary: the page's size follows the stored resolution and the page shows
// the image upright and flattened onto white. This is what tells the image
// codecs of each platform apart, so it runs against the Windows build too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "decode_fixtures.h"
#include "support/bytes.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

// Wine's own imaging component, as observed under Wine 8.0.
constexpr const char* kNoV3HeaderUnderWine =
    "Wine's BMP decoder refuses a 56-byte header, so the file is not read at all";
constexpr const char* kNoRgbAlphaUnderWine =
    "Wine's BMP decoder reads 32-bit BI_RGB as 32bppBGR whatever alpha mask the header holds";
constexpr const char* kRunGapsUnderWine =
    "Wine's BMP decoder leaves the pixels the runs skip as its new buffer held them (black or "
    "noise), opaque";
constexpr const char* kNoWebpUnderWine =
    "Wine has no WebP decoder: CreateDecoderFromFilename fails with "
    "WINCODEC_ERR_COMPONENTNOTFOUND";

// The quadrants picture with its bottom-right quarter fully transparent: it
// must come out white.
Picture quadrantsWithClearCorner() {
  Picture p = quadrants(40, 20);
  p.fill(20, 10, 40, 20, Colour{0, 255, 255, 0});
  return p;
}

// One GIF image of the quadrants picture, its colours in the global table.
void writeQuadrantsGif(const std::string& path) {
  GifFrameImage frame{0, 0, 40, 20, {}, {}, -1, false};
  for (std::uint32_t y = 0; y < 20; ++y) {
    for (std::uint32_t x = 0; x < 40; ++x) frame.indices.push_back((y >= 10) * 2 + (x >= 20));
  }
  writeGif(path, 40, 20, {kRed, kGreen, kBlue, kYellow}, {frame});
}

// An RGB TIFF of the quadrants picture at 48 dots per inch.
void writeQuadrantsTiff(const std::string& path) {
  const Picture p = quadrants(40, 20);
  TiffPage page;
  page.width = 40;
  page.height = 20;
  page.resolutionUnit = 2;  // inch
  page.xResolution = page.yResolution = 48;
  for (std::uint32_t y = 0; y < 20; ++y) {
    std::vector<std::uint8_t> row;
    for (std::uint32_t x = 0; x < 40; ++x) {
      const Colour c = p.pixels[y * 40 + x];
      row.insert(row.end(), {c.r, c.g, c.b});
    }
    page.rows.push_back(row);
  }
  writeTiff(path, {page});
}

TEST(ImageFormatsJob, EachFormatMakesItsUprightPage) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    double width, height;  // the page, in points
    Colour topLeft, topRight, bottomLeft, bottomRight;  // of the upright page
    const char* windowsGap;  // why the case cannot hold under Wine, if it cannot
  };
  const Case cases[] = {
      {"JPEG at 192 dpi",
       [](auto& p) {
         JpegOptions options;
         options.densityUnit = 1;  // inch
         options.densityX = options.densityY = 192;
         writeJpeg(p, quadrants(40, 20), options);
       },
       15, 7.5, kRed, kGreen, kBlue, kYellow, nullptr},
      {"JPEG turned by its EXIF orientation 6",
       [](auto& p) {
         JpegOptions options;
         options.app1 = exifOrientationSegment(3, 1, 6);  // one SHORT
         writeJpeg(p, quadrants(40, 20), options);
       },
       15, 30, kBlue, kRed, kYellow, kGreen, nullptr},
      {"PNG with a transparent quarter", [](auto& p) { writePng(p, quadrantsWithClearCorner()); },
       30, 15, kRed, kGreen, kBlue, kWhite, nullptr},
      {"GIF", writeQuadrantsGif, 30, 15, kRed, kGreen, kBlue, kYellow, nullptr},
      {"TIFF at 48 dpi", writeQuadrantsTiff, 60, 30, kRed, kGreen, kBlue, kYellow, nullptr},
      // A 40-byte header's 32-bit pixels carry no alpha, whatever their fourth byte.
      {"BMP of 32 bits with a 40-byte header",
       [](auto& p) { writeFile(p, bmpBytes(quadrantsWithClearCorner(), {32})); }, 30, 15, kRed,
       kGreen, kBlue, kYellow, nullptr},
      {"lossless WebP", [](auto& p) { writeWebp(p, quadrants(40, 20)); }, 30, 15, kRed, kGreen,
       kBlue, kYellow, kNoWebpUnderWine},
  };
  std::string skipped;
  for (const Case& c : cases) {
    if (c.windowsGap && leftOutOnWindows(&skipped, c.what, c.windowsGap)) continue;
    TempDir dir;
    c.make(dir / "image");
    makeImageList(dir / "list", {dir / "image"});
    const RunResult r = runFolio({"--images", dir / "list", "--output", dir / "out.pdf"});
    ASSERT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\timage\nDONE\t1\n") << c.what;
    const std::string pdf = readFile(dir / "out.pdf");
    const auto pages = readPdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u) << c.what;
    EXPECT_NEAR(pages[0].width, c.width, 0.005) << c.what;
    EXPECT_NEAR(pages[0].height, c.height, 0.005) << c.what;

    // Rendered at 4 pixels a point, each quarter is checked at its centre.
    const int width = static_cast<int>(c.width * 4);
    const int height = static_cast<int>(c.height * 4);
    const auto pixels = renderPdfPage(pdf, 0, width, height);
    const auto at = [&](int x, int y) {
      const std::uint8_t* p = &pixels[(std::size_t(y) * width + x) * 3];
      return Colour{p[0], p[1], p[2]};
    };
    EXPECT_TRUE(near(at(width / 4, height / 4), c.topLeft, 12)) << c.what;
    EXPECT_TRUE(near(at(width * 3 / 4, height / 4), c.topRight, 12)) << c.what;
    EXPECT_TRUE(near(at(width / 4, height * 3 / 4), c.bottomLeft, 12)) << c.what;
    EXPECT_TRUE(near(at(width * 3 / 4, height * 3 / 4), c.bottomRight, 12)) << c.what;
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// One bitmap of 4 x 2 pixels in one of the forms BMP files come in, its
// bytes written here as the form stores them.
struct BitmapForm {
  const char* what;
  std::uint32_t headerSize;  // 12, 40, 56, 64, 108 or 124
  std::uint16_t bitsPerPixel;
  std::uint32_t compression;  // 0 BI_RGB, 1 RLE8, 2 RLE4, 3 BI_BITFIELDS
  std::vector<Colour> palette;
  std::vector<std::uint32_t> masks;  // red, green, blue[, alpha]
  bool topDown;
  std::string pixels;  // rows as stored: bottom row first unless top down
  Colour expected[8];  // on the page: the top row, then the bottom row
  const char* windowsGap;
};

std::string bitmapFile(const BitmapForm& f) {
  std::string dib;
  const auto count = static_cast<std::uint32_t>(f.palette.size());
  if (f.headerSize == 12) {
    dib = le32(12) + le16(4) + le16(2) + le16(1) + le16(f.bitsPerPixel);
  } else {
    dib = le32(f.headerSize) + le32(4) + le32(f.topDown ? std::uint32_t(-2) : 2) + le16(1) +
          le16(f.bitsPerPixel) + le32(f.compression) +
          le32(static_cast<std::uint32_t>(f.pixels.size())) + le32(0) + le32(0) + le32(count) +
          le32(0);
    // Masks sit in the header from 52 bytes on, else right after it.
    for (const std::uint32_t mask : f.masks) dib += le32(mask);
    if (f.headerSize > 40) dib.resize(f.headerSize, '\0');
  }
  std::string palette;
  for (const Colour& c : f.palette) {
    palette += {char(c.b), char(c.g), char(c.r)};
    if (f.headerSize != 12) palette += '\0';
  }
  // OS/2 1.x has no count of colours: its palette is always full.
  if (f.headerSize == 12 && f.bitsPerPixel <= 8) palette.resize(3u << f.bitsPerPixel, '\0');
  const auto offset = static_cast<std::uint32_t>(14 + dib.size() + palette.size());
  return "BM" + le32(offset + static_cast<std::uint32_t>(f.pixels.size())) + le32(0) +
         le32(offset) + dib + palette + f.pixels;
}

TEST(ImageFormatsJob, EveryBitmapFormMakesItsPage) {
  using namespace std::string_literals;
  const std::string z(2, '\0');  // padding to a 32-bit row
  const Colour k{0, 0, 0}, w = kWhite, r = kRed, g = kGreen, b = kBlue, y = kYellow;
  const std::vector<Colour> rgby = {r, g, b, y};
  const BitmapForm forms[] = {
      {"OS/2 header, 1 bit",
       12,
       1,
       0,
       {k, w},
       {},
       false,
       "\x50\0\0\0\xA0\0\0\0"s,
       {w, k, w, k, k, w, k, w},
       nullptr},
      {"OS/2 header, 8 bits",
       12,
       8,
       0,
       rgby,
       {},
       false,
       "\x03\x02\x01\x00\x00\x01\x02\x03"s,
       {r, g, b, y, y, b, g, r},
       nullptr},
      {"OS/2 2.x header, 4 bits",
       64,
       4,
       0,
       rgby,
       {},
       false,
       "\x32\x10" + z + "\x01\x23" + z,
       {r, g, b, y, y, b, g, r},
       nullptr},
      {"16 bits 5-5-5",
       40,
       16,
       0,
       {},
       {},
       false,
       le16(0x7FFF) + le16(0x001F) + le16(0x03E0) + le16(0x7C00) + le16(0x7C00) + le16(0x03E0) +
           le16(0x001F) + le16(0x7FFF),
       {r, g, b, w, w, b, g, r},
       nullptr},
      {"16-bit bit fields 5-6-5",
       40,
       16,
       3,
       {},
       {0xF800, 0x07E0, 0x001F},
       false,
       le16(0) + le16(0xFFFF) + le16(0) + le16(0xFFFF) + le16(0xF800) + le16(0x07E0) +
           le16(0x001F) + le16(0xFFFF),
       {r, g, b, w, k, w, k, w},
       nullptr},
      {"v4 header, 24 bits top down",
       108,
       24,
       0,
       {},
       {},
       true,
       std::string("\0\0\xFF\0\xFF\0\xFF\0\0\0\xFF\xFF", 12) +
           std::string("\0\0\0\xFF\xFF\xFF\0\0\0\xFF\xFF\xFF", 12),
       {r, g, b, y, k, w, k, w},
       nullptr},
      {"32 bits, fourth bytes no alpha",
       40,
       32,
       0,
       {},
       {},
       false,
       le32(0x00FFFFFF) + le32(0) + le32(0x80FFFFFF) + le32(0x01000000) + le32(0x00FF0000) +
           le32(0x8000FF00) + le32(0xFF0000FF) + le32(0x01FFFF00),
       {r, g, b, y, w, k, w, k},
       nullptr},
      {"v5 header, 32-bit bit fields with alpha",
       124,
       32,
       3,
       {},
       {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
       false,
       le32(0x80000000) + le32(0xFFFFFFFF) + le32(0x00000000) + le32(0xFF000000) +
           le32(0xFFFF0000) + le32(0x0000FF00) + le32(0xFF0000FF) + le32(0x00FFFF00),
       {r, w, b, w, Colour{127, 127, 127}, w, w, k},
       nullptr},
      {"v4 header, 32-bit BI_RGB with an alpha mask",
       108,
       32,
       0,
       {},
       {0, 0, 0, 0xFF000000},
       false,
       le32(0) + le32(0) + le32(0) + le32(0) + le32(0xFFFF0000) + le32(0x0000FF00) +
           le32(0xFF0000FF) + le32(0x00FFFF00),
       {r, w, b, w, w, w, w, w},
       kNoRgbAlphaUnderWine},
      {"56-byte header, 32-bit bit fields 8-8-8",
       56,
       32,
       3,
       {},
       {0xFF, 0xFF00, 0xFF0000, 0},
       false,
       le32(0) + le32(0xFFFFFF) + le32(0) + le32(0xFFFFFF) + le32(0xFF) + le32(0xFF00) +
           le32(0xFF0000) + le32(0x00FFFF),
       {r, g, b, y, k, w, k, w},
       kNoV3HeaderUnderWine},
      // Bottom row: a run of one, a jump of two, a run of one, an end of
      // line; top row: three pixels as stored (and their pad byte), then the
      // end of the bitmap before the last pixel.
      {"RLE8 with a jump and an early end",
       40,
       8,
       1,
       rgby,
       {},
       false,
       std::string("\x01\x00\x00\x02\x02\x00\x01\x03\x00\x00\x00\x03\x01\x02\x01\x00\x00\x01", 18),
       {g, b, g, w, r, w, w, y},
       kRunGapsUnderWine},
      // Bottom row: three pixels of alternating nibbles, an end of line; top
      // row: a jump of one, three pixels as stored, the end of the bitmap.
      {"RLE4 with a jump and an early end",
       40,
       4,
       2,
       rgby,
       {},
       false,
       std::string("\x03\x01\x00\x00\x00\x02\x01\x00\x00\x03\x12\x30\x00\x01", 14),
       {w, g, b, y, r, g, r, w},
       kRunGapsUnderWine},
  };
  TempDir dir;
  std::string skipped;
  std::vector<const BitmapForm*> listed;
  std::vector<std::string> paths;
  for (const BitmapForm& f : forms) {
    if (f.windowsGap && leftOutOnWindows(&skipped, f.what, f.windowsGap)) continue;
    listed.push_back(&f);
    paths.push_back(dir / std::to_string(paths.size()));
    writeFile(paths.back(), bitmapFile(f));
  }
  makeImageList(dir / "list", paths);
  const RunResult run = runFolio({"--images", dir / "list", "--output", dir / "out.pdf"});
  ASSERT_EQ(run.exitCode, 0) << run.out;
  const std::string pdf = readFile(dir / "out.pdf");
  ASSERT_EQ(readPdfPages(pdf).size(), listed.size());
  // 8 rendered pixels to an image pixel; each pixel is checked at its centre.
  for (size_t page = 0; page < listed.size(); ++page) {
    const auto pixels = renderPdfPage(pdf, static_cast<int>(page), 32, 16);
    for (int i = 0; i < 8; ++i) {
      const std::uint8_t* p = &pixels[(std::size_t(i / 4 * 8 + 4) * 32 + i % 4 * 8 + 4) * 3];
      EXPECT_TRUE(near(Colour{p[0], p[1], p[2]}, listed[page]->expected[i], 12))
          << listed[page]->what << ", pixel " << i % 4 << " of the " << (i < 4 ? "top" : "bottom")
          << " row";
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
}  // namespace folio::test
