// Reads PNG files back with libpng, the reference decoder, so that tests see
// what any other program would see in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio::test {

struct DecodedPng {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitDepth = 0;
  int colorType = 0;  // PNG colour type: 2 is truecolour without alpha
  bool hasPhys = false;
  std::uint32_t physX = 0, physY = 0;
  int physUnit = 0;  // 1: pixels per metre
  std::vector<std::uint8_t> rgb;  // width * 3 bytes a row, as stored

  // The pixel at (x, y) as red, green, blue.
  std::vector<int> at(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = rgb.data() + (size_t{y} * width + x) * 3;
    return {p[0], p[1], p[2]};
  }
};

// Decodes a whole PNG from its bytes; throws std::runtime_error with
// libpng's message when libpng refuses it.
DecodedPng decodePng(const std::string& bytes);

// Runs pngcheck on a file: empty when pngcheck finds it clean, its report
// otherwise.
std::string pngcheckProblems(const std::string& path);

}  // namespace folio::test
