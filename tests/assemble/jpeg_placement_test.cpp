// JPEGs through the real binary: the forms every PDF reader decodes as we do
// are placed as stored and turned by the page, every other form is decoded,
// and damaged data is refused either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "decode_fixtures.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

RunResult convert(const TempDir& dir, const std::string& image) {
  makeImageList(dir / "list", {image});
  return runFolio({"--images", dir / "list", "--output", dir / "out.pdf"});
}

bool holds(const std::string& pdf, const std::string& bytes) {
  return pdf.find(bytes) != std::string::npos;
}

Colour renderedAt(const std::vector<std::uint8_t>& pixels, int width, int x, int y) {
  const std::uint8_t* p = &pixels[(std::size_t(y) * width + x) * 3];
  return Colour{p[0], p[1], p[2]};
}

TEST(JpegPlacement, EveryOrientationTurnsThePlacedImageUpright) {
  // 40 x 20 pixels at 48 dpi across and 96 down: 60 x 15 points as stored,
  // 15 x 60 once a quarter turn has swapped sizes and resolutions.
  struct Case {
    std::uint32_t orientation;
    double width, height;
    Colour topLeft, topRight, bottomLeft, bottomRight;
  };
  const Case cases[] = {
      {1, 60, 15, kRed, kGreen, kBlue, kYellow},  {2, 60, 15, kGreen, kRed, kYellow, kBlue},
      {3, 60, 15, kYellow, kBlue, kGreen, kRed},  {4, 60, 15, kBlue, kYellow, kRed, kGreen},
      {5, 15, 60, kRed, kBlue, kGreen, kYellow},  {6, 15, 60, kBlue, kRed, kYellow, kGreen},
      {7, 15, 60, kYellow, kGreen, kBlue, kRed},  {8, 15, 60, kGreen, kYellow, kRed, kBlue},
      {0, 60, 15, kRed, kGreen, kBlue, kYellow},  {9, 60, 15, kRed, kGreen, kBlue, kYellow},
  };
  for (const Case& c : cases) {
    const std::string what = "orientation " + std::to_string(c.orientation);
    TempDir dir;
    JpegOptions options;
    options.densityUnit = 1;
    options.densityX = 48;
    options.densityY = 96;
    options.app1 = exifOrientationSegment(3, 1, c.orientation);
    writeJpeg(dir / "photo.jpg", quadrants(40, 20), options);
    const RunResult r = convert(dir, dir / "photo.jpg");
    ASSERT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\tphoto.jpg\nDONE\t1\n") << what;

    const std::string pdf = readFile(dir / "out.pdf");
    EXPECT_TRUE(holds(pdf, readFile(dir / "photo.jpg"))) << what;
    const auto pages = readPdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u) << what;
    EXPECT_NEAR(pages[0].width, c.width, 0.005) << what;
    EXPECT_NEAR(pages[0].height, c.height, 0.005) << what;
    const int w = static_cast<int>(c.width * 4), h = static_cast<int>(c.height * 4);
    const auto pixels = renderPdfPage(pdf, 0, w, h);
    EXPECT_TRUE(near(renderedAt(pixels, w, w / 4, h / 4), c.topLeft, 12)) << what;
    EXPECT_TRUE(near(renderedAt(pixels, w, w * 3 / 4, h / 4), c.topRight, 12)) << what;
    EXPECT_TRUE(near(renderedAt(pixels, w, w / 4, h * 3 / 4), c.bottomLeft, 12)) << what;
    EXPECT_TRUE(near(renderedAt(pixels, w, w * 3 / 4, h * 3 / 4), c.bottomRight, 12)) << what;
  }
}

// Smooth colours over the whole range, so that a reader's other colour
// transform or upsampling would show.
Picture gradient(std::uint32_t width, std::uint32_t height) {
  Picture p(width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      p.at(x, y) = Colour{std::uint8_t(x * 255 / (width - 1)), std::uint8_t(y * 255 / (height - 1)),
                          std::uint8_t(255 - x * 255 / (width - 1))};
    }
  }
  return p;
}

TEST(JpegPlacement, EachFormIsPlacedOrDecodedAndLooksTheSame) {
  struct Case {
    const char* what;
    JpegOptions options;
    bool placed;
  };
  const auto with = [](auto set) {
    JpegOptions o;
    set(o);
    return o;
  };
  const Case cases[] = {
      {"YCbCr", {}, true},
      {"YCbCr, chroma subsampled", with([](auto& o) { o.subsampled = true; }), true},
      {"progressive", with([](auto& o) { o.progressive = true; }), true},
      {"grey", with([](auto& o) { o.grey = true; }), true},
      {"RGB", with([](auto& o) { o.rgb = true; }), true},
      {"CMYK", with([](auto& o) { o.cmyk = true; }), false},
      {"CMYK, Adobe inverted", with([](auto& o) { o.cmyk = o.adobeInverted = true; }), false},
      {"arithmetic-coded", with([](auto& o) { o.arithmetic = true; }), false},
  };
  const Picture picture = gradient(64, 48);
  for (const Case& c : cases) {
    TempDir dir;
    writeJpeg(dir / "photo.jpg", picture, c.options);
    const RunResult r = convert(dir, dir / "photo.jpg");
    ASSERT_EQ(r.exitCode, 0) << c.what << ": " << r.out;
    const std::string pdf = readFile(dir / "out.pdf");
    EXPECT_EQ(holds(pdf, readFile(dir / "photo.jpg")), c.placed) << c.what;

    // One pixel a pixel: 64 x 48 pixels at 96 dpi are 48 x 36 points.
    const auto pixels = renderPdfPage(pdf, 0, 64, 48);
    const Decoded decoded = decodePath(dir / "photo.jpg");
    ASSERT_TRUE(decoded.ok) << c.what;
    int fromPicture = 0, fromDecoder = 0;
    for (std::uint32_t y = 0; y < 48; ++y) {
      for (std::uint32_t x = 0; x < 64; ++x) {
        const Colour seen = renderedAt(pixels, 64, int(x), int(y));
        Colour want = picture.pixels[y * 64 + x];
        if (c.options.grey) want.b = want.r = want.g;  // the writer's grey is the green
        const Colour ours = pixelAt(decoded.image, x, y);
        for (int i = 0; i < 3; ++i) {
          const auto channel = [i](Colour k) { return i == 0 ? k.b : i == 1 ? k.g : k.r; };
          fromPicture = std::max(fromPicture, std::abs(channel(seen) - channel(want)));
          fromDecoder = std::max(fromDecoder, std::abs(channel(seen) - channel(ours)));
        }
      }
    }
    EXPECT_LE(fromPicture, 8) << c.what;
    // A placed image is decoded by the reader: it must match our decoder.
    EXPECT_LE(fromDecoder, 2) << c.what;
  }
}

TEST(JpegPlacement, DamagedDataIsRefusedAndLeavesNoDocument) {
  TempDir dir;
  JpegOptions progressive;
  progressive.progressive = true;
  writeJpeg(dir / "baseline.jpg", gradient(64, 48));
  writeJpeg(dir / "progressive.jpg", gradient(64, 48), progressive);
  const std::string baseline = readFile(dir / "baseline.jpg");
  std::string badScan = readFile(dir / "progressive.jpg");
  // The second scan names a component the frame does not have: only a
  // decode that reaches it finds out.
  const size_t secondScan = badScan.find("\xFF\xDA", badScan.find("\xFF\xDA") + 2);
  ASSERT_NE(secondScan, std::string::npos);
  badScan[secondScan + 5] = 9;

  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"cut in the middle of its data", baseline.substr(0, baseline.size() / 2)},
      {"cut before its end marker", baseline.substr(0, baseline.size() - 2)},
      {"a later scan of a missing component", badScan},
  };
  for (const Case& c : cases) {
    writeFile(dir / "damaged.jpg", c.bytes);
    const RunResult r = convert(dir, dir / "damaged.jpg");
    EXPECT_EQ(r.out, "START\t1\nERROR\tIMAGE_READ_FAILED\n") << c.what;
    EXPECT_EQ(r.exitCode, 33) << c.what;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf")) << c.what;
  }
}

}  // namespace
}  // namespace folio::test
