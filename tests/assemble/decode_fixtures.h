// Image files for the decoder tests, written with the codec libraries
// themselves, and the EXIF bytes they carry, made by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "assemble/decode_image.h"

namespace folio::test {

struct Colour {
  std::uint8_t b, g, r, a = 255;
  bool operator==(const Colour&) const = default;
};

inline constexpr Colour kWhite{255, 255, 255};

// decodeImage on a path given as the system's bytes, with a fresh record.
struct Decoded {
  bool ok = false;
  assemble::DecodedImage image;
};
Decoded decodePath(const std::string& path);

// One decoded pixel; alpha is always 255 there.
Colour pixelAt(const assemble::DecodedImage& image, std::uint32_t x, std::uint32_t y);

// Lossy formats keep colours only roughly.
::testing::AssertionResult near(Colour seen, Colour want, int tolerance = 6);

// The record's layout, as the images job relies on it: stride, size, padding.
void expectWellFormed(const assemble::DecodedImage& image);

// The peak resident memory of this process since the mark, in bytes: what a
// decode allocated and touched.
class PeakMemory {
 public:
  PeakMemory();
  long long growth() const;

 private:
  long long start_;
};

// Pixels in memory: rows top to bottom.
struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Colour> pixels;

  Picture(std::uint32_t w, std::uint32_t h, Colour fill = {0, 0, 0, 255})
      : width(w), height(h), pixels(std::size_t{w} * h, fill) {}
  Colour& at(std::uint32_t x, std::uint32_t y) { return pixels[std::size_t{y} * width + x]; }
  // Paints [x0, x1) by [y0, y1).
  void fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, Colour c);
};

// Four quadrants in four colours, so that every turn and mirror tells apart.
Picture quadrants(std::uint32_t width, std::uint32_t height);
inline constexpr Colour kRed{0, 0, 255}, kGreen{0, 255, 0}, kBlue{255, 0, 0},
    kYellow{0, 255, 255};

// An APP1 segment body holding "Exif\0\0" and a TIFF block with one IFD0
// entry: Orientation (274) of the given type (3 SHORT, 4 LONG, 1 BYTE ...),
// count and value.
std::string exifOrientationSegment(std::uint16_t type, std::uint32_t count, std::uint32_t value,
                                   bool bigEndian = false);

struct JpegOptions {
  int quality = 100;
  int densityUnit = -1;  // -1 writes no JFIF segment; 0, 1 (inch) or 2 (cm) writes one
  std::uint16_t densityX = 1, densityY = 1;
  std::string app1;      // body of an APP1 segment, when not empty
  bool cmyk = false;     // four inks from the colour: plain, or inverted with an Adobe segment
  bool adobeInverted = false;
  bool grey = false;
  bool rgb = false;          // three components stored as RGB, as the Adobe segment says
  bool progressive = false;
  bool arithmetic = false;   // arithmetic-coded rather than Huffman-coded
  bool subsampled = false;   // chroma at half resolution both ways, as cameras write it
};
void writeJpeg(const std::string& path, const Picture& picture, const JpegOptions& options = {});
// Row by row, for pictures too large to hold: makeRow fills row y.
void writeJpeg(const std::string& path, std::uint32_t width, std::uint32_t height,
               const std::function<void(std::uint32_t y, Colour* row)>& makeRow,
               const JpegOptions& options = {});

// A PNG of any stored form: rows already in the file's own sample layout
// (16-bit samples most significant byte first).
struct PngImage {
  std::uint32_t width = 0, height = 0;
  int colourType = 0;  // PNG_COLOR_TYPE_*
  int bitDepth = 8;
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<std::uint8_t> palette;  // r, g, b triples
  std::vector<std::uint8_t> trnsAlpha;  // palette alphas
  bool hasTrnsColour = false;
  std::uint16_t trnsGrey = 0, trnsRed = 0, trnsGreen = 0, trnsBlue = 0;
  bool interlaced = false;
  int physUnit = -1;  // -1 writes no pHYs
  std::uint32_t physX = 0, physY = 0;
  int compression = 6;
};
void writePng(const std::string& path, const PngImage& image);
// A truecolour-with-alpha PNG of the picture.
void writePng(const std::string& path, const Picture& picture);

// A GIF: a logical screen with a global colour table, then frames of colour
// indices, each with its own table or transparent index when given.
struct GifFrameImage {
  std::uint16_t left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> indices;  // rows top to bottom
  std::vector<Colour> localColours;
  int transparent = -1;
  bool interlaced = false;
};
void writeGif(const std::string& path, std::uint16_t width, std::uint16_t height,
              const std::vector<Colour>& globalColours, const std::vector<GifFrameImage>& frames);

// A TIFF page: samples already in the file's own layout.
struct TiffPage {
  std::uint32_t width = 0, height = 0;
  std::uint16_t samplesPerPixel = 3, bitsPerSample = 8, photometric = 2;  // RGB
  std::vector<std::uint16_t> extraSamples;  // EXTRASAMPLE_* for each extra sample
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<std::uint16_t> colourMap;  // red, then green, then blue entries
  int resolutionUnit = -1;               // -1 writes no resolution
  float xResolution = 0, yResolution = 0;
  std::uint16_t orientation = 1;
};
// One page after the other, the first page first.
void writeTiff(const std::string& path, const std::vector<TiffPage>& pages);

// A BMP with a 40-byte header: 8 bits a pixel through a palette of the
// picture's colours, 24 or 32 bits directly (the fourth byte of 32 written from alpha).
struct BmpOptions {
  int bitsPerPixel = 24;
  bool topDown = false;
  std::int32_t pixelsPerMetreX = 0, pixelsPerMetreY = 0;
};
std::string bmpBytes(const Picture& picture, const BmpOptions& options = {});
void writeBmp(const std::string& path, const Picture& picture, const BmpOptions& options = {});

// A lossless WebP of the picture, alpha kept; or a lossy one without alpha.
void writeWebp(const std::string& path, const Picture& picture, bool lossy = false);
// An animation of equally sized pictures, the first frame first.
void writeAnimatedWebp(const std::string& path, const std::vector<Picture>& frames);

}  // namespace folio::test
