// The PNG encoder the page writer stands on: 8-bit truecolour without alpha,
// 144 dots per inch recorded in the file, from rows of blue, green, red bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/files.h"

namespace folio::platform {

// A view of the caller's pixel rows: top to bottom, 3 bytes a pixel in the
// order blue, green, red, rows stride bytes apart. Bytes past width * 3 in a
// row are padding and never reach the file.
struct BgrImage {
  const std::uint8_t* pixels;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t stride;
};

// How rows are prepared for compression. Rendered pages are mostly flat
// colour, where leaving rows unfiltered costs little in size and saves the
// most time; photographs compress far better with a predictor.
enum class PngFilter { none, up, adaptive };

struct PngSettings {
  int level = 4;  // deflate level, 1 (fastest) to 12
  PngFilter filter = PngFilter::adaptive;
};

// A complete PNG file in memory; size 0 when there is none.
struct EncodedPng {
  std::unique_ptr<std::uint8_t[]> bytes;
  size_t size = 0;
};

// The PNG file for the image; empty when the image is empty or its encoding
// cannot be held in memory.
EncodedPng encodePng(const BgrImage& image, const PngSettings& settings = {});

// Encodes the image and writes the whole PNG file to file. A full disk is
// reported as such; every other failure, an image that cannot be encoded
// included, as IoStatus::other.
IoStatus writePng(File& file, const BgrImage& image);

}  // namespace folio::platform
