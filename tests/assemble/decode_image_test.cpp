// decodeImage on real files written by the codec libraries: what comes out
// is what the page shows, so the tests look at sizes, resolutions and pixels.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "assemble/decode_image.h"
#include "decode_fixtures.h"
#include "platform/native_path_posix.h"
#include "support/temp_dir.h"

namespace folio::assemble {
namespace {

using test::Colour;
using test::JpegOptions;
using test::Picture;
using test::TempDir;

using test::Decoded;
using test::decodePath;
using test::expectWellFormed;
using test::kWhite;
using test::near;
using test::pixelAt;
using test::PeakMemory;

TEST(DecodeImage, ExifOrientationTurnsTheImageUpright) {
  // Stored 32 by 16: red top left, green top right, blue bottom left, yellow
  // bottom right.
  using test::kBlue, test::kGreen, test::kRed, test::kYellow;
  struct Case {
    const char* what;
    std::string app1;
    std::uint32_t width, height;
    Colour topLeft, topRight, bottomLeft, bottomRight;
  };
  const auto tag = test::exifOrientationSegment;
  const Case cases[] = {
      {"no EXIF", "", 32, 16, kRed, kGreen, kBlue, kYellow},
      {"1", tag(3, 1, 1, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"2 mirrored", tag(3, 1, 2, false), 32, 16, kGreen, kRed, kYellow, kBlue},
      {"3 half turn", tag(3, 1, 3, false), 32, 16, kYellow, kBlue, kGreen, kRed},
      {"4 upside down", tag(3, 1, 4, false), 32, 16, kBlue, kYellow, kRed, kGreen},
      {"5 transposed", tag(3, 1, 5, false), 16, 32, kRed, kBlue, kGreen, kYellow},
      {"6 quarter clockwise", tag(3, 1, 6, false), 16, 32, kBlue, kRed, kYellow, kGreen},
      {"7 transversed", tag(3, 1, 7, false), 16, 32, kYellow, kGreen, kBlue, kRed},
      {"8 quarter counter-clockwise", tag(3, 1, 8, false), 16, 32, kGreen, kYellow, kRed, kBlue},
      {"6 big-endian", tag(3, 1, 6, true), 16, 32, kBlue, kRed, kYellow, kGreen},
      {"3 as LONG", tag(4, 1, 3, false), 32, 16, kYellow, kBlue, kGreen, kRed},
      {"0", tag(3, 1, 0, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"9", tag(3, 1, 9, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"65535", tag(3, 1, 65535, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"LONG 65539 is not 3", tag(4, 1, 65539, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"6 as BYTE", tag(1, 1, 6, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"6 as SSHORT", tag(8, 1, 6, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"two SHORTs", tag(3, 2, 6, false), 32, 16, kRed, kGreen, kBlue, kYellow},
      {"damaged EXIF", std::string("Exif\0\0II*\0\xFF\xFF", 12), 32, 16, kRed, kGreen, kBlue,
       kYellow},
  };
  TempDir dir;
  const Picture stored = test::quadrants(32, 16);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / "o.jpg";
    JpegOptions options;
    options.app1 = c.app1;
    test::writeJpeg(path, stored, options);
    const Decoded d = decodePath(path);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.image.width, c.width);
    ASSERT_EQ(d.image.height, c.height);
    expectWellFormed(d.image);
    const std::uint32_t right = c.width - 1, bottom = c.height - 1;
    EXPECT_TRUE(near(pixelAt(d.image, 0, 0), c.topLeft));
    EXPECT_TRUE(near(pixelAt(d.image, right, 0), c.topRight));
    EXPECT_TRUE(near(pixelAt(d.image, 0, bottom), c.bottomLeft));
    EXPECT_TRUE(near(pixelAt(d.image, right, bottom), c.bottomRight));
  }
}

TEST(DecodeImage, CameraSizeQuarterTurnSwapsSizeAndResolution) {
  TempDir dir;
  const std::string path = dir / "camera.jpg";
  JpegOptions options;
  options.quality = 75;
  options.densityUnit = 1;
  options.densityX = 300;
  options.densityY = 72;
  options.app1 = test::exifOrientationSegment(3, 1, 6);
  // Grey, with one marked block at each of the stored left corners.
  test::writeJpeg(
      path, 4000, 3000,
      [](std::uint32_t y, Colour* row) {
        std::fill_n(row, 4000, Colour{128, 128, 128});
        if (y < 16) std::fill_n(row, 16, test::kGreen);
        if (y >= 2984) std::fill_n(row, 16, test::kRed);
      },
      options);
  const Decoded d = decodePath(path);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.image.width, 3000u);
  EXPECT_EQ(d.image.height, 4000u);
  EXPECT_EQ(d.image.dpiX, 72.0);
  EXPECT_EQ(d.image.dpiY, 300.0);
  EXPECT_EQ(d.image.stride, 9000u);
  EXPECT_TRUE(near(pixelAt(d.image, 0, 0), test::kRed));       // stored bottom left
  EXPECT_TRUE(near(pixelAt(d.image, 2999, 0), test::kGreen));  // stored top left
  EXPECT_TRUE(near(pixelAt(d.image, 1500, 2000), {128, 128, 128}));
}

TEST(DecodeImage, ResolutionIsTakenOnlyWhenUsableInBothDirections) {
  struct Case {
    const char* what;
    int unit;  // JFIF unit, or 10 + PNG unit for a PNG's pHYs
    std::uint32_t x, y;
    std::uint32_t orientation;
    double dpiX, dpiY;
  };
  const Case cases[] = {
      {"JFIF 300 by 150 dpi", 1, 300, 150, 1, 300.0, 150.0},
      {"JFIF exactly 10", 1, 10, 10, 1, 10.0, 10.0},
      {"JFIF 9 across", 1, 9, 300, 1, 96.0, 96.0},
      {"JFIF 0 down", 1, 300, 0, 1, 96.0, 96.0},
      {"JFIF aspect ratio only", 0, 300, 300, 1, 96.0, 96.0},
      {"JFIF per centimetre", 2, 100, 40, 1, 254.0, 101.6},
      {"JFIF 600 by 300, orientation 8", 1, 600, 300, 8, 300.0, 600.0},
      {"no JFIF, orientation 6", -1, 0, 0, 6, 96.0, 96.0},
      {"pHYs per metre", 10 + PNG_RESOLUTION_METER, 11811, 5906, 1, 11811 * 0.0254,
       5906 * 0.0254},
      {"pHYs 9.99 dpi down", 10 + PNG_RESOLUTION_METER, 11811, 393, 1, 96.0, 96.0},
      {"pHYs just over 10 dpi", 10 + PNG_RESOLUTION_METER, 394, 394, 1, 394 * 0.0254,
       394 * 0.0254},
      {"pHYs aspect ratio only", 10 + PNG_RESOLUTION_UNKNOWN, 11811, 11811, 1, 96.0, 96.0},
      {"no pHYs", 9, 0, 0, 1, 96.0, 96.0},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path;
    if (c.unit >= 9) {
      path = dir / "r.png";
      test::PngImage png;
      png.width = 2;
      png.height = 1;
      png.colourType = PNG_COLOR_TYPE_GRAY;
      png.rows = {{0, 255}};
      png.physUnit = c.unit - 10;
      png.physX = c.x;
      png.physY = c.y;
      test::writePng(path, png);
    } else {
      path = dir / "r.jpg";
      JpegOptions options;
      options.densityUnit = c.unit;
      options.densityX = static_cast<std::uint16_t>(c.x);
      options.densityY = static_cast<std::uint16_t>(c.y);
      options.app1 = test::exifOrientationSegment(3, 1, c.orientation);
      test::writeJpeg(path, Picture(2, 1), options);
    }
    const Decoded d = decodePath(path);
    ASSERT_TRUE(d.ok);
    EXPECT_DOUBLE_EQ(d.image.dpiX, c.dpiX);
    EXPECT_DOUBLE_EQ(d.image.dpiY, c.dpiY);
  }
}

TEST(DecodeImage, TransparencyIsFlattenedOntoWhite) {
  Picture p(5, 1);
  p.at(0, 0) = {10, 20, 30, 0};      // fully transparent
  p.at(1, 0) = {10, 20, 30, 255};    // opaque
  p.at(2, 0) = {0, 200, 100, 128};   // half
  p.at(3, 0) = {200, 50, 0, 100};
  p.at(4, 0) = {255, 255, 255, 1};
  TempDir dir;
  test::writePng(dir / "a.png", p);
  const Decoded d = decodePath(dir / "a.png");
  ASSERT_TRUE(d.ok);
  expectWellFormed(d.image);
  EXPECT_EQ(pixelAt(d.image, 0, 0), kWhite);
  EXPECT_EQ(pixelAt(d.image, 1, 0), (Colour{10, 20, 30}));
  EXPECT_EQ(pixelAt(d.image, 2, 0), (Colour{127, 227, 177}));
  EXPECT_EQ(pixelAt(d.image, 3, 0), (Colour{233, 175, 155}));
  EXPECT_EQ(pixelAt(d.image, 4, 0), kWhite);
}

TEST(DecodeImage, RowsArePaddedToFourBytesWithWhite) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {{1, 4}, {2, 8}, {4, 12}, {5, 16}};
  TempDir dir;
  for (const auto& [width, stride] : cases) {
    test::writePng(dir / "s.png", Picture(width, 3, {1, 2, 3, 255}));
    const Decoded d = decodePath(dir / "s.png");
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.image.stride, stride);
    EXPECT_EQ(d.image.pixels.size(), stride * 3);
    expectWellFormed(d.image);
    EXPECT_EQ(pixelAt(d.image, width - 1, 2), (Colour{1, 2, 3}));
  }
}

// Every stored PNG form comes out as the same 8-bit colours.
TEST(DecodeImage, EveryPngFormIsConverted) {
  struct Case {
    const char* what;
    test::PngImage png;
    std::vector<Colour> want;  // the first row, after flattening
  };
  const auto image = [](int type, int depth, std::vector<std::uint8_t> row) {
    test::PngImage png;
    png.colourType = type;
    png.bitDepth = depth;
    png.height = 1;
    png.rows = {std::move(row)};
    return png;
  };
  std::vector<Case> cases;
  {
    auto png = image(PNG_COLOR_TYPE_PALETTE, 8, {0, 1, 2});
    png.width = 3;
    png.palette = {255, 0, 0, 0, 0, 255, 10, 20, 30};
    png.trnsAlpha = {0, 128};  // the third entry stays opaque
    cases.push_back({"palette with alpha", png, {kWhite, {255, 127, 127}, {30, 20, 10}}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_PALETTE, 2, {0b00011011});
    png.width = 4;
    png.palette = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0};
    cases.push_back({"2-bit palette", png, {{0, 0, 0}, kWhite, {0, 0, 255}, {0, 255, 0}}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_GRAY, 8, {0, 77, 255});
    png.width = 3;
    cases.push_back({"grey", png, {{0, 0, 0}, {77, 77, 77}, kWhite}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_GRAY, 1, {0b10100000});
    png.width = 3;
    cases.push_back({"1-bit grey", png, {kWhite, {0, 0, 0}, kWhite}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_GRAY, 8, {0, 100, 200});
    png.width = 3;
    png.hasTrnsColour = true;
    png.trnsGrey = 100;
    cases.push_back({"grey with a transparent value", png, {{0, 0, 0}, kWhite, {200, 200, 200}}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0, 128, 60, 255, 60, 0});
    png.width = 3;
    cases.push_back({"grey with alpha", png, {{127, 127, 127}, {60, 60, 60}, kWhite}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0x33, 0x33, 0xFF, 0xFF});
    png.width = 1;
    cases.push_back({"16-bit grey with alpha", png, {{51, 51, 51}}});
  }
  {
    // 0x3333 and 0x6666 are exactly 51 and 102 in 8 bits; 0x8080 rounds to 128.
    auto png = image(PNG_COLOR_TYPE_RGB, 16, {0x33, 0x33, 0x66, 0x66, 0x80, 0x80});
    png.width = 1;
    cases.push_back({"16-bit colour", png, {{128, 102, 51}}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_RGBA, 16, {0, 0, 0xFF, 0xFF, 0, 0, 0x80, 0x80});
    png.width = 1;
    cases.push_back({"16-bit colour with alpha", png, {{127, 255, 127}}});
  }
  {
    auto png = image(PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6});
    png.width = 2;
    png.hasTrnsColour = true;
    png.trnsRed = 4;
    png.trnsGreen = 5;
    png.trnsBlue = 6;
    cases.push_back({"colour with a transparent value", png, {{3, 2, 1}, kWhite}});
  }
  {
    test::PngImage png;
    png.colourType = PNG_COLOR_TYPE_RGB;
    png.width = 9;
    png.height = 9;
    png.interlaced = true;
    for (std::uint8_t y = 0; y < 9; ++y) {
      std::vector<std::uint8_t> row;
      for (std::uint8_t x = 0; x < 9; ++x) row.insert(row.end(), {x, y, 7});
      png.rows.push_back(row);
    }
    std::vector<Colour> want;
    for (std::uint8_t x = 0; x < 9; ++x) want.push_back({7, 0, x});
    cases.push_back({"interlaced", png, want});
  }
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::writePng(dir / "f.png", c.png);
    const Decoded d = decodePath(dir / "f.png");
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.image.width, c.png.width);
    expectWellFormed(d.image);
    for (std::uint32_t x = 0; x < c.want.size(); ++x) {
      EXPECT_EQ(pixelAt(d.image, x, 0), c.want[x]) << "pixel " << x;
    }
  }
}

TEST(DecodeImage, EveryJpegFormIsConverted) {
  struct Case {
    const char* what;
    JpegOptions options;
    Colour colour, want;
  };
  const auto with = [](bool grey, bool cmyk, bool adobe) {
    JpegOptions o;
    o.grey = grey;
    o.cmyk = cmyk;
    o.adobeInverted = adobe;
    return o;
  };
  const Case cases[] = {
      {"colour", with(false, false, false), {40, 120, 200}, {40, 120, 200}},
      {"grey", with(true, false, false), {90, 90, 90}, {90, 90, 90}},
      {"CMYK", with(false, true, false), {40, 120, 200}, {40, 120, 200}},
      {"inverted Adobe CMYK", with(false, true, true), {40, 120, 200}, {40, 120, 200}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::writeJpeg(dir / "c.jpg", Picture(16, 16, c.colour), c.options);
    const Decoded d = decodePath(dir / "c.jpg");
    ASSERT_TRUE(d.ok);
    expectWellFormed(d.image);
    EXPECT_TRUE(near(pixelAt(d.image, 8, 8), c.want, 2));
  }
}

// The same JPEG data under a header that declares another size.
std::string withDeclaredSize(std::string jpeg, std::uint16_t width, std::uint16_t height) {
  const size_t sof = jpeg.find("\xFF\xC0");
  EXPECT_NE(sof, std::string::npos);
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height & 0xFF);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width & 0xFF);
  return jpeg;
}

TEST(DecodeImage, SizeLimitIsCheckedBeforeAnyPixelBuffer) {
  TempDir dir;
  JpegOptions options;
  options.quality = 50;
  test::writeJpeg(
      dir / "max.jpg", 8192, 8192,
      [](std::uint32_t, Colour* row) { std::fill_n(row, 8192, Colour{90, 90, 90}); }, options);
  // The largest image decodes, and the measurement sees its buffers.
  {
    PeakMemory peak;
    const Decoded d = decodePath(dir / "max.jpg");
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.image.pixels.size(), 8192u * 24576u);
    EXPECT_TRUE(near(pixelAt(d.image, 8191, 8191), {90, 90, 90}));
    EXPECT_GT(peak.growth(), 400ll << 20);
  }
  // One row more is refused on its header alone. Decoding it would fill the
  // rows the data holds before anything could notice the missing one.
  test::writeFile(dir / "over.jpg", withDeclaredSize(test::readFile(dir / "max.jpg"), 8192, 8193));
  {
    PeakMemory peak;
    EXPECT_FALSE(decodePath(dir / "over.jpg").ok);
    EXPECT_LT(peak.growth(), 16ll << 20);
  }
}

// A small file whose header claims a huge image.
TEST(DecodeImage, HeaderClaimingAHugeImageFails) {
  TempDir dir;
  test::writeJpeg(dir / "small.jpg", Picture(16, 16));
  const std::string small = test::readFile(dir / "small.jpg");
  const std::pair<std::uint16_t, std::uint16_t> sizes[] = {{19200, 19200}, {65500, 65500},
                                                           {65500, 1025}};
  for (const auto& [width, height] : sizes) {
    test::writeFile(dir / "huge.jpg", withDeclaredSize(small, width, height));
    PeakMemory peak;
    EXPECT_FALSE(decodePath(dir / "huge.jpg").ok) << width << "x" << height;
    EXPECT_LT(peak.growth(), 16ll << 20);
  }
}

TEST(DecodeImage, WhatIsNoReadableImageFails) {
  TempDir dir;
  test::writeFile(dir / "text.jpg", "just some words, not a picture\n");
  test::writeFile(dir / "empty.png", "");
  test::writeFile(dir / "magic-only.png", "\x89PNG\r\n\x1A\n");
  test::writeJpeg(dir / "whole.jpg", test::quadrants(64, 64), {});
  test::writePng(dir / "whole.png", test::quadrants(64, 64));
  const std::string jpeg = test::readFile(dir / "whole.jpg");
  const std::string png = test::readFile(dir / "whole.png");
  test::writeFile(dir / "cut.jpg", jpeg.substr(0, jpeg.size() / 2));
  test::writeFile(dir / "cut-before-end.jpg", jpeg.substr(0, jpeg.size() - 2));
  test::writeFile(dir / "cut.png", png.substr(0, png.size() / 2));
  std::filesystem::create_directory(dir / "folder.png");
  ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);  // no writer: reading would block
  const char* names[] = {"text.jpg",           "empty.png",  "magic-only.png", "cut.jpg", "cut.png",
                         "cut-before-end.jpg", "folder.png", "pipe.png",       "missing.png"};
  for (const char* name : names) EXPECT_FALSE(decodePath(dir / name).ok) << name;
  // The whole files do decode, so the failures above come from the damage.
  EXPECT_TRUE(decodePath(dir / "whole.jpg").ok);
  EXPECT_TRUE(decodePath(dir / "whole.png").ok);
}

TEST(DecodeImage, PathsTheSystemNamesByBytes) {
  TempDir dir;
  const std::string latin1 = dir / "caf\xE9.png";  // not UTF-8
  test::writePng(latin1, Picture(3, 2, {9, 8, 7, 255}));
  const Decoded d = decodePath(latin1);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(pixelAt(d.image, 2, 1), (Colour{9, 8, 7}));

  // A lone surrogate has no bytes on this system: the file counts as missing.
  const auto factory = codecs::createImagingFactory();
  DecodedImage image;
  std::u16string unmappable = platform::argumentToWide(dir.str() + "/x");
  unmappable += char16_t(0xD800);
  EXPECT_FALSE(decodeImage(factory.get(), unmappable, &image));
}

TEST(DecodeImage, NoFactoryOrNoRecordTouchesNothing) {
  TempDir dir;
  test::writePng(dir / "ok.png", Picture(1, 1));
  const std::u16string path = platform::argumentToWide(dir / "ok.png");
  DecodedImage image;
  EXPECT_FALSE(decodeImage(nullptr, path, &image));
  EXPECT_EQ(image.width, 0u);
  EXPECT_EQ(image.dpiX, 96.0);
  const auto factory = codecs::createImagingFactory();
  ASSERT_NE(factory, nullptr);
  EXPECT_FALSE(decodeImage(factory.get(), path, nullptr));
}

}  // namespace
}  // namespace folio::assemble
