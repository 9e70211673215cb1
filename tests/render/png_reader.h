// Reads PNG files back with libpng, the reference decoder, so that tests see
// what any other program would see in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio::test {

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  std::uint32_t bitDepth = 0, colorType = 0;  // as the header stores them: 8 and 2 for 8-bit RGB
  std::uint32_t physX = 0, physY = 0;         // the pHYs chunk, 0 when there is none
  std::uint32_t physUnit = 0;                 // 1: pixels per metre
  std::vector<std::uint8_t> rgb;              // width * 3 bytes a row

  // The pixel at (x, y) as red, green, blue.
  std::vector<int> at(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = rgb.data() + (size_t{y} * width + x) * 3;
    return {p[0], p[1], p[2]};
  }
};

// Decodes a whole PNG from its bytes, or with `pixels` false reads its
// header and pHYs only; throws std::runtime_error with libpng's message when
// libpng refuses it.
DecodedPng decodePng(const std::string& bytes, bool pixels = true);

// Runs pngcheck on a file: empty when pngcheck finds it clean, its report
// otherwise.
std::string pngcheckProblems(const std::string& path);

}  // namespace folio::test
