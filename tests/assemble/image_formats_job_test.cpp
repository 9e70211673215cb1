// Every image format the decoders are asked to read, through the real
// binary: the page's size follows the stored resolution and the page shows
// the image upright and flattened onto white. This is what tells the image
// codecs of each platform apart, so it runs against the Windows build too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "decode_fixtures.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

// Wine's own imaging component, as observed under Wine 8.0.
constexpr const char* kNoWebpUnderWine =
    "Wine has no WebP decoder: CreateDecoderFromFilename fails with "
    "WINCODEC_ERR_COMPONENTNOTFOUND";
constexpr const char* kBmpAlphaIgnoredOnWindows =
    "the imaging component reads a 32-bit BMP with a 40-byte header as 32bppBGR, its fourth "
    "byte being no alpha";

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
      {"BMP of 32 bits with a transparent quarter",
       [](auto& p) { writeFile(p, bmpBytes(quadrantsWithClearCorner(), {32})); }, 30, 15, kRed,
       kGreen, kBlue, kWhite, kBmpAlphaIgnoredOnWindows},
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

}  // namespace
}  // namespace folio::test
