#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace folio::test {

struct Rgb {
  std::uint8_t red, green, blue;
};

// Colour of the pixel at (x, y) of the image as stored.
using PixelAt = std::function<Rgb(std::uint32_t x, std::uint32_t y)>;

// A baseline JPEG with a JFIF density in dots per inch (0: none), and an EXIF
// orientation tag when orientation is not 0.
void writeJpeg(const std::string& path, std::uint32_t width, std::uint32_t height,
               const PixelAt& pixel, std::uint16_t dpi = 0, std::uint16_t orientation = 0);

// A 24-bit bottom-up BMP with the given pixels per metre (0: none).
void writeBmp(const std::string& path, std::uint32_t width, std::uint32_t height,
              const PixelAt& pixel, std::uint32_t pixelsPerMetre = 0);

}  // namespace folio::test
