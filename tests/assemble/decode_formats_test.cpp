// The containers besides JPEG and PNG: GIF, TIFF, BMP and WebP, each written
// by its own library (BMP by hand), each decoded to the same upright pixels.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "assemble/upright.h"
#include "decode_fixtures.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

constexpr Colour kBlack{0, 0, 0};

GifFrameImage gifFrame(std::uint16_t width, std::uint16_t height,
                      std::vector<std::uint8_t> indices) {
  GifFrameImage frame;
  frame.width = width;
  frame.height = height;
  frame.indices = std::move(indices);
  return frame;
}

// Every pixel of row y, compared exactly.
void expectRow(const assemble::DecodedImage& image, std::uint32_t y,
               const std::vector<Colour>& want) {
  ASSERT_GE(image.width, want.size());
  for (std::uint32_t x = 0; x < want.size(); ++x) {
    EXPECT_EQ(pixelAt(image, x, y), want[x]) << "pixel " << x << " of row " << y;
  }
}

TEST(DecodeGif, FirstImageWithItsColoursAndTransparency) {
  const std::vector<Colour> global = {kBlack, kWhite, kRed, kGreen};
  const GifFrameImage plain = gifFrame(4, 1, {0, 1, 2, 3});
  GifFrameImage transparent = gifFrame(3, 1, {2, 0, 2});
  transparent.transparent = 2;
  GifFrameImage local = gifFrame(2, 1, {0, 1});
  local.localColours = {kBlue, kYellow};
  GifFrameImage interlaced = gifFrame(1, 10, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1});
  interlaced.interlaced = true;
  struct Case {
    const char* what;
    std::vector<GifFrameImage> frames;
    std::uint32_t width, height;
    std::vector<std::vector<Colour>> rows;
  };
  const Case cases[] = {
      {"global colour table", {plain}, 4, 1, {{kBlack, kWhite, kRed, kGreen}}},
      {"transparent index", {transparent}, 3, 1, {{kWhite, kBlack, kWhite}}},
      {"local colour table", {local}, 2, 1, {{kBlue, kYellow}}},
      {"interlaced rows back in order",
       {interlaced},
       1,
       10,
       {{kBlack}, {kWhite}, {kRed}, {kGreen}, {kBlack}, {kWhite}, {kRed}, {kGreen}, {kBlack},
        {kWhite}}},
      {"first of two frames", {plain, local}, 4, 1, {{kBlack, kWhite, kRed, kGreen}}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeGif(dir / "g.gif", 4, 10, global, c.frames);
    const Decoded d = decodePath(dir / "g.gif");
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.image.width, c.width);
    ASSERT_EQ(d.image.height, c.height);
    expectWellFormed(d.image);
    for (std::uint32_t y = 0; y < c.rows.size(); ++y) expectRow(d.image, y, c.rows[y]);
  }
}

// The reader stops at the first image: what follows it is never read, so
// damage there does not matter, while damage inside it does.
TEST(DecodeGif, ReadsNoFurtherThanTheFirstImage) {
  TempDir dir;
  std::vector<std::uint8_t> noise(64 * 64);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = std::uint8_t((i * 7919) >> 3);
  const GifFrameImage first = gifFrame(8, 8, std::vector<std::uint8_t>(64, 2));
  const GifFrameImage second = gifFrame(64, 64, noise);
  writeGif(dir / "two.gif", 64, 64, {kBlack, kWhite, kRed, kGreen}, {first, second});
  const std::string bytes = readFile(dir / "two.gif");
  writeFile(dir / "cut-in-second.gif", bytes.substr(0, bytes.size() - 200));
  writeFile(dir / "cut-in-first.gif", bytes.substr(0, 40));
  const Decoded d = decodePath(dir / "cut-in-second.gif");
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.image.width, 8u);
  EXPECT_EQ(pixelAt(d.image, 7, 7), kRed);
  EXPECT_FALSE(decodePath(dir / "cut-in-first.gif").ok);
}

TiffPage tiffPage(std::uint32_t width, std::uint32_t height, std::uint16_t samples,
                  std::uint16_t photometric) {
  TiffPage page;
  page.width = width;
  page.height = height;
  page.samplesPerPixel = samples;
  page.photometric = photometric;
  return page;
}

TEST(DecodeTiff, EveryStoredFormIsConverted) {
  struct Case {
    const char* what;
    TiffPage page;
    std::vector<Colour> want;
  };
  std::vector<Case> cases;
  {
    auto page = tiffPage(2, 1, 3, PHOTOMETRIC_RGB);
    page.rows = {{10, 20, 30, 200, 100, 0}};
    cases.push_back({"colour", page, {{30, 20, 10}, {0, 100, 200}}});
  }
  {
    auto page = tiffPage(3, 1, 1, PHOTOMETRIC_MINISBLACK);
    page.rows = {{0, 90, 255}};
    cases.push_back({"grey", page, {kBlack, {90, 90, 90}, kWhite}});
  }
  {
    auto page = tiffPage(8, 1, 1, PHOTOMETRIC_MINISWHITE);
    page.bitsPerSample = 1;
    page.rows = {{0b01000000}};
    cases.push_back({"bilevel, white is zero", page, {kWhite, kBlack, kWhite}});
  }
  {
    auto page = tiffPage(2, 1, 2, PHOTOMETRIC_MINISBLACK);
    page.extraSamples = {EXTRASAMPLE_UNASSALPHA};
    page.rows = {{0, 128, 60, 255}};
    cases.push_back({"grey with alpha", page, {{127, 127, 127}, {60, 60, 60}}});
  }
  {
    auto page = tiffPage(2, 1, 1, PHOTOMETRIC_PALETTE);
    page.colourMap.assign(3 * 256, 0);
    page.colourMap[1] = 0xFFFF;              // entry 1 red
    page.colourMap[256 + 2] = 0x8080;        // entry 2 half green
    page.rows = {{1, 2}};
    cases.push_back({"palette", page, {kRed, {0, 128, 0}}});
  }
  {
    auto page = tiffPage(1, 1, 3, PHOTOMETRIC_RGB);
    page.bitsPerSample = 16;
    // 16-bit samples in the host's order, as the library writes them.
    const std::uint16_t samples[3] = {0x3333, 0x6666, 0xFFFF};
    page.rows = {std::vector<std::uint8_t>(6)};
    std::memcpy(page.rows[0].data(), samples, 6);
    cases.push_back({"16-bit colour", page, {{255, 102, 51}}});
  }
  {
    auto page = tiffPage(1, 1, 4, PHOTOMETRIC_SEPARATED);
    page.rows = {{0, 255, 255, 0}};  // cyan none, magenta and yellow full: red
    cases.push_back({"CMYK", page, {kRed}});
  }
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeTiff(dir / "t.tif", {c.page});
    const Decoded d = decodePath(dir / "t.tif");
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.image.width, c.page.width);
    expectWellFormed(d.image);
    expectRow(d.image, 0, c.want);
  }
}

// Every colour value at every alpha, stored straight and stored multiplied
// by alpha: both flatten exactly as the straight colour does.
TEST(DecodeTiff, AlphaOfBothKindsFlattensExactly) {
  const auto colours = [](unsigned v) {
    return std::array<unsigned, 3>{v, 255 - v, (v * 7) & 255};
  };
  for (const std::uint16_t kind : {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_ASSOCALPHA}) {
    SCOPED_TRACE(kind == EXTRASAMPLE_UNASSALPHA ? "straight" : "associated");
    auto page = tiffPage(256, 256, 4, PHOTOMETRIC_RGB);
    page.extraSamples = {kind};
    for (unsigned a = 0; a < 256; ++a) {
      std::vector<std::uint8_t> row;
      for (unsigned v = 0; v < 256; ++v) {
        for (const unsigned c : colours(v)) {
          row.push_back(std::uint8_t(kind == EXTRASAMPLE_UNASSALPHA ? c : (c * a + 127) / 255));
        }
        row.push_back(std::uint8_t(a));
      }
      page.rows.push_back(row);
    }
    TempDir dir;
    writeTiff(dir / "alpha.tif", {page});
    const Decoded d = decodePath(dir / "alpha.tif");
    ASSERT_TRUE(d.ok);
    for (unsigned a = 0; a < 256; ++a) {
      for (unsigned v = 0; v < 256; ++v) {
        const auto c = colours(v);
        const auto over = [a](unsigned colour) {
          return assemble::compositeOverWhite(std::uint8_t(colour), std::uint8_t(a));
        };
        ASSERT_EQ(pixelAt(d.image, v, a), (Colour{over(c[2]), over(c[1]), over(c[0])}))
            << "value " << v << " alpha " << a;
      }
    }
  }
}

TEST(DecodeTiff, FirstPageAsStoredWithItsResolution) {
  const Picture stored = quadrants(6, 4);
  const auto pageOf = [](const Picture& p) {
    auto page = tiffPage(p.width, p.height, 3, PHOTOMETRIC_RGB);
    for (std::uint32_t y = 0; y < p.height; ++y) {
      std::vector<std::uint8_t> row;
      for (std::uint32_t x = 0; x < p.width; ++x) {
        const Colour c = p.pixels[y * p.width + x];
        row.insert(row.end(), {c.r, c.g, c.b});
      }
      page.rows.push_back(row);
    }
    return page;
  };
  struct Case {
    const char* what;
    int unit;
    float x, y;
    std::uint16_t orientation;
    double dpiX, dpiY;
  };
  const Case cases[] = {
      {"per inch", RESUNIT_INCH, 300, 150, 1, 300, 150},
      {"per centimetre", RESUNIT_CENTIMETER, 100, 50, 1, 254, 127},
      {"no unit", RESUNIT_NONE, 300, 300, 1, 96, 96},
      {"no resolution", -1, 0, 0, 1, 96, 96},
      {"orientation tag is not applied", RESUNIT_INCH, 200, 200, 3, 200, 200},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TiffPage first = pageOf(stored);
    first.resolutionUnit = c.unit;
    first.xResolution = c.x;
    first.yResolution = c.y;
    first.orientation = c.orientation;
    writeTiff(dir / "p.tif", {first, pageOf(Picture(3, 3, kWhite))});
    const Decoded d = decodePath(dir / "p.tif");
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.image.width, 6u);
    EXPECT_EQ(d.image.height, 4u);
    EXPECT_NEAR(d.image.dpiX, c.dpiX, 1e-3);
    EXPECT_NEAR(d.image.dpiY, c.dpiY, 1e-3);
    EXPECT_EQ(pixelAt(d.image, 0, 0), kRed);
    EXPECT_EQ(pixelAt(d.image, 5, 0), kGreen);
    EXPECT_EQ(pixelAt(d.image, 0, 3), kBlue);
    EXPECT_EQ(pixelAt(d.image, 5, 3), kYellow);
  }
}

TEST(DecodeBmp, EveryLayoutWithItsResolution) {
  Picture p = quadrants(5, 4);
  p.at(4, 3) = {10, 20, 30, 128};
  struct Case {
    const char* what;
    BmpOptions options;
    Colour bottomRight;
    double dpiX, dpiY;
  };
  const Case cases[] = {
      {"24-bit bottom up", {24, false, 3780, 3780}, {10, 20, 30}, 3780 * 0.0254, 3780 * 0.0254},
      {"24-bit top down", {24, true, 11811, 5906}, {10, 20, 30}, 11811 * 0.0254, 5906 * 0.0254},
      {"32-bit, its fourth bytes no alpha", {32, false, 0, 0}, {10, 20, 30}, 96, 96},
      {"8-bit palette", {8, false, 393, 11811}, {10, 20, 30}, 96, 96},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(dir / "b.bmp", bmpBytes(p, c.options));
    const Decoded d = decodePath(dir / "b.bmp");
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.image.width, 5u);
    ASSERT_EQ(d.image.height, 4u);
    expectWellFormed(d.image);
    EXPECT_DOUBLE_EQ(d.image.dpiX, c.dpiX);
    EXPECT_DOUBLE_EQ(d.image.dpiY, c.dpiY);
    EXPECT_EQ(pixelAt(d.image, 0, 0), kRed);
    EXPECT_EQ(pixelAt(d.image, 4, 0), kGreen);
    EXPECT_EQ(pixelAt(d.image, 0, 3), kBlue);
    EXPECT_EQ(pixelAt(d.image, 4, 3), c.bottomRight);
  }
}

TEST(DecodeWebp, StillAndFirstFrameOfAnAnimation) {
  TempDir dir;
  Picture still = quadrants(6, 4);
  still.at(5, 3) = {0, 200, 100, 128};
  writeWebp(dir / "still.webp", still);
  const Decoded d = decodePath(dir / "still.webp");
  ASSERT_TRUE(d.ok);
  ASSERT_EQ(d.image.width, 6u);
  ASSERT_EQ(d.image.height, 4u);
  expectWellFormed(d.image);
  EXPECT_EQ(pixelAt(d.image, 0, 0), kRed);
  EXPECT_EQ(pixelAt(d.image, 0, 3), kBlue);
  EXPECT_EQ(pixelAt(d.image, 5, 3), (Colour{127, 227, 177}));

  writeWebp(dir / "lossy.webp", quadrants(32, 32), /*lossy=*/true);
  const Decoded lossy = decodePath(dir / "lossy.webp");
  ASSERT_TRUE(lossy.ok);
  EXPECT_TRUE(near(pixelAt(lossy.image, 4, 4), kRed, 16));
  EXPECT_TRUE(near(pixelAt(lossy.image, 27, 27), kYellow, 16));

  writeAnimatedWebp(dir / "moving.webp", {quadrants(8, 8), Picture(8, 8, kWhite),
                                          Picture(8, 8, kBlack)});
  const Decoded first = decodePath(dir / "moving.webp");
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(pixelAt(first.image, 0, 0), kRed);
  EXPECT_EQ(pixelAt(first.image, 7, 7), kYellow);
}

// Each container cut short, and the formats chosen by content, not name.
TEST(DecodeFormats, DamagedFilesFailAndNamesDoNotMatter) {
  TempDir dir;
  const Picture p = quadrants(40, 30);
  writeGif(dir / "whole.gif", 40, 30, {kRed, kGreen},
           {gifFrame(40, 30, std::vector<std::uint8_t>(1200, 1))});
  auto page = tiffPage(40, 30, 3, PHOTOMETRIC_RGB);
  page.rows.assign(30, std::vector<std::uint8_t>(120, 77));
  writeTiff(dir / "whole.tif", {page});
  writeFile(dir / "whole.bmp", bmpBytes(p));
  writeWebp(dir / "whole.webp", p);
  for (const char* name : {"whole.gif", "whole.tif", "whole.bmp", "whole.webp"}) {
    SCOPED_TRACE(name);
    const std::string bytes = readFile(dir / name);
    EXPECT_TRUE(decodePath(dir / name).ok);
    writeFile(dir / "cut", bytes.substr(0, bytes.size() * 2 / 3));
    EXPECT_FALSE(decodePath(dir / "cut").ok);
    writeFile(dir / "renamed.png", bytes);
    EXPECT_TRUE(decodePath(dir / "renamed.png").ok);
  }
  // A bitmap header promising a million rows, within the size bound, over a
  // few bytes of data.
  std::string bmp = bmpBytes(p);
  bmp[22] = 0x40;
  bmp[23] = 0x42;
  bmp[24] = 0x0F;  // 1,000,000 rows
  writeFile(dir / "promises.bmp", bmp);
  PeakMemory peak;
  EXPECT_FALSE(decodePath(dir / "promises.bmp").ok);
  EXPECT_LT(peak.growth(), 16ll << 20);
}

// The worker writes nothing but its status lines: whatever a codec library
// has to say about a damaged file must go nowhere.
TEST(DecodeFormats, DamagedFilesWriteNothingToStandardError) {
  TempDir dir;
  const Picture p = quadrants(64, 48);
  writeJpeg(dir / "a.jpg", p);
  writePng(dir / "a.png", p);
  writeGif(dir / "a.gif", 64, 48, {kRed, kGreen, kBlue},
           {gifFrame(64, 48, std::vector<std::uint8_t>(64 * 48, 2))});
  auto page = tiffPage(64, 48, 3, PHOTOMETRIC_RGB);
  page.rows.assign(48, std::vector<std::uint8_t>(192, 9));
  writeTiff(dir / "a.tif", {page});
  writeFile(dir / "a.bmp", bmpBytes(p));
  writeWebp(dir / "a.webp", p);
  std::vector<std::string> damaged;
  for (const char* name : {"a.jpg", "a.png", "a.gif", "a.tif", "a.bmp", "a.webp"}) {
    const std::string bytes = readFile(dir / name);
    for (const double at : {0.1, 0.5, 0.9}) {
      std::string scrambled = bytes;
      for (std::size_t i = std::size_t(bytes.size() * at), n = 0; n < 24; ++i, ++n) {
        scrambled[i % bytes.size()] = static_cast<char>(scrambled[i % bytes.size()] ^ 0x5A);
      }
      damaged.push_back(dir / (std::to_string(damaged.size()) + "-scrambled"));
      writeFile(damaged.back(), scrambled);
      damaged.push_back(dir / (std::to_string(damaged.size()) + "-cut"));
      writeFile(damaged.back(), bytes.substr(0, std::size_t(bytes.size() * at)));
    }
  }
  std::fflush(stderr);
  const int saved = dup(2);
  const int capture = open((dir / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(saved, 0);
  ASSERT_GE(capture, 0);
  dup2(capture, 2);
  int decoded = 0;
  for (const auto& path : damaged) decoded += decodePath(path).ok ? 1 : 0;
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  close(capture);
  EXPECT_EQ(readFile(dir / "stderr"), "");
  EXPECT_LT(decoded, static_cast<int>(damaged.size()));  // most of them are refused
}

}  // namespace
}  // namespace folio::test
