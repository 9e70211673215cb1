// decodeImage on every fixture, and the pixel work behind it: each file's
// size, resolution and sampled colours as its generator's table gives them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "assemble/decode_image.h"
#include "assemble/fingerprint.h"
#include "assemble/jpeg_file_source.h"
#include "assemble/page_document.h"
#include "fixtures.h"
#include "platform/native_path_posix.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

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
      for (std::size_t i = f.width * 3; i < stride; ++i)
        ASSERT_EQ(image.pixels[y * stride + i], 0xFF);
    }
    for (const Sample& s : f.samples) {
      EXPECT_TRUE(shows(&image.pixels[std::size_t{s.y} * stride + s.x * 3], s, f.tolerance));
    }
  }
}

// The largest image allowed; one row more is refused (see the faults test).
TEST(DecodeImage, TheLargestImageDecodes) {
  DecodedImage image;
  ASSERT_TRUE(decode(fixturePath("limit-8192x8192.png"), &image));
  EXPECT_EQ(image.pixels.size(), 8192u * 24576u);
  // Its rows are bits 01011010 over and over: the last two pixels white, black.
  const std::vector<std::uint8_t> last(image.pixels.end() - 6, image.pixels.end());
  EXPECT_EQ(last, std::vector<std::uint8_t>({255, 255, 255, 0, 0, 0}));
}

// 256 by 256 pixels: they cross the strips a quarter turn is walked in,
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
  // The stored pixel shown at (x, y): (x, y), or (y, x) when the sides swap,
  // then counted from the other edge across (sx) or down (sy).
  struct Case {
    Transform transform;
    bool swap, fromRight, fromBottom;
  };
  const Case cases[] = {
      {Transform::none, false, false, false},
      {Transform::flipHorizontal, false, true, false},
      {Transform::rotate180, false, true, true},
      {Transform::flipVertical, false, false, true},
      {Transform::rotate90, true, false, true},
      {Transform::rotate270, true, true, false},
      {Transform::rotate90FlipHorizontal, true, false, false},
      {Transform::rotate270FlipHorizontal, true, true, true},
  };
  std::vector<std::uint8_t> out(n * n * 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.transform));
    assemble::flattenUpright(stored.data(), n, n, c.transform, out.data(), n * 3);
    for (std::uint32_t y = 0; y < n; ++y) {
      for (std::uint32_t x = 0; x < n; ++x) {
        const std::uint32_t u = c.swap ? y : x, v = c.swap ? x : y;
        const std::uint32_t sx = c.fromRight ? n - 1 - u : u, sy = c.fromBottom ? n - 1 - v : v;
        const std::uint32_t a = alphaAt(sx, sy);
        const std::uint8_t* p = &out[(y * n + x) * 3];
        ASSERT_EQ(p[0], over(sx, a)) << x << "," << y;
        ASSERT_EQ(p[1], over(sy, a)) << x << "," << y;
        ASSERT_EQ(p[2], over(sx ^ sy, a)) << x << "," << y;
      }
    }
  }
}

// A decoded image's page as a document of its own, for sizes whose rows are
// padded differently: PDFium draws the image's exact pixels over the whole
// page, and qpdf finds every object where the table says (it would warn and
// rebuild the table otherwise).
TEST(PageDocument, DrawsTheExactPixelsAndReadsWithoutRepair) {
  TempDir dir;
  for (const auto& [w, h] : {std::pair{1u, 1u}, {3u, 2u}, {1u, 7u}, {7u, 1u}, {257u, 3u}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    DecodedImage image;
    image.width = w;
    image.height = h;
    image.stride = (w * 3 + 3) / 4 * 4;
    image.pixels.assign(std::size_t{image.stride} * h, 0xFF);
    const auto value = [](std::uint32_t x, std::uint32_t y, int c) {
      return std::uint8_t((x * 37 + y * 101 + c * 59) % 256);
    };
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) image.pixels[y * image.stride + x * 3 + c] = value(x, y, c);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(assemble::writePageDocument(image, w * 0.75, h * 0.75, &bytes));
    const std::string pdf(bytes.begin(), bytes.end());
    const auto pages = readPdfPages(pdf);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NEAR(pages[0].width, w * 0.75, 1e-4);
    EXPECT_NEAR(pages[0].height, h * 0.75, 1e-4);
    const std::vector<std::uint8_t> drawn = renderPdfPage(pdf, 0, int(w), int(h));
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(drawn[(y * w + x) * 3 + c], value(x, y, c));
    writeFile(dir / "page.pdf", pdf);
    const RunResult checked = runProgram({"qpdf", "--check", dir / "page.pdf"});
    EXPECT_EQ(checked.exitCode, 0) << checked.out;
  }
}

// A fingerprint fed in pieces is the bytes' own whatever the pieces, and a
// placed file read in pieces, in order, is found whole and unchanged only
// while it still holds the bytes fingerprinted.
TEST(PlacedFile, ReadInPiecesIsHeldAgainstItsFingerprint) {
  std::string bytes(1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 131 + 7) % 251);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  assemble::Fingerprint whole;
  whole.add(data, bytes.size());
  for (const size_t piece : {1, 31, 32, 33, 500, 999}) {
    assemble::Fingerprint pieces;
    for (size_t at = 0; at < bytes.size(); at += piece)
      pieces.add(data + at, std::min(piece, bytes.size() - at));
    EXPECT_EQ(pieces.value(), whole.value()) << piece;
  }
  std::string changed = bytes;
  changed[600] ^= 1;
  TempDir dir;
  for (const auto& [file, matches] :
       {std::pair{bytes, true}, {changed, false}, {bytes + "after the image", true}}) {
    writeFile(dir / "photo.jpg", file);
    assemble::JpegFileSource source(platform::argumentToWide(dir / "photo.jpg"), bytes.size(),
                                    whole.value());
    FPDF_FILEACCESS* access = source.access();
    std::vector<unsigned char> read(bytes.size());
    bool allRead = true;
    for (size_t at = 0; at < read.size(); at += 300) {
      const auto size = static_cast<unsigned long>(std::min<size_t>(300, read.size() - at));
      allRead = access->m_GetBlock(access->m_Param, at, read.data() + at, size) != 0 && allRead;
    }
    EXPECT_EQ(allRead, matches) << file.size();
    EXPECT_EQ(source.readWholeAndMatched(), matches) << file.size();
  }
}

}  // namespace
}  // namespace folio::test
