// Image files for the decoder tests, written with the codec libraries
// themselves, and the EXIF bytes they carry, made by hand.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace folio::test {

struct Colour {
  std::uint8_t b, g, r, a = 255;
  bool operator==(const Colour&) const = default;
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

}  // namespace folio::test
