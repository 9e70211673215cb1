#include "png_reader.h"

#include <png.h>

#include <stdexcept>

#include "support/process.h"

namespace folio::test {
namespace {

std::uint32_t be32At(const std::string& bytes, size_t at) {
  std::uint32_t value = 0;
  for (size_t i = at; i < at + 4; ++i) value = value << 8 | std::uint8_t(bytes.at(i));
  return value;
}

}  // namespace

DecodedPng decodePng(const std::string& bytes, bool pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  DecodedPng png;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) && pixels) {
    image.format = PNG_FORMAT_RGB;
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr);
  }
  if (PNG_IMAGE_FAILED(image)) throw std::runtime_error(image.message);
  png_image_free(&image);
  // The signature, then IHDR: its length, type, width, height, depth, colour type.
  png.width = be32At(bytes, 16);
  png.height = be32At(bytes, 20);
  png.bitDepth = std::uint8_t(bytes.at(24));
  png.colorType = std::uint8_t(bytes.at(25));
  if (const size_t at = bytes.find("pHYs"); at != std::string::npos) {
    png.physX = be32At(bytes, at + 4);
    png.physY = be32At(bytes, at + 8);
    png.physUnit = std::uint8_t(bytes.at(at + 12));
  }
  return png;
}

std::string pngcheckProblems(const std::string& path) {
  const RunResult r = runProgram({"/usr/bin/pngcheck", "-q", path});
  if (r.exitCode == 0) return std::string();
  return r.out + r.err + " (exit " + std::to_string(r.exitCode) + ")";
}

}  // namespace folio::test
