// The PNG encoder the page writer stands on: 8-bit truecolour without alpha,
// rows not interlaced, 144 dots per inch recorded in the file, from rows of
// blue, green, red bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/files.h"

namespace folio::codecs {

using platform::IoStatus;

// A view of the caller's pixel rows: top to bottom, 3 bytes a pixel in the
// order blue, green, red, rows stride bytes apart. Bytes past width * 3 in a
// row are padding and never reach the file.
struct BgrImage {
  const std::uint8_t* pixels;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t stride;
};

// How rows are prepared for compression: left as they are, each predicted
// from its left neighbour or from the row above, each given whichever of
// none, sub and up has the smallest residuals, or a choice made once per
// band of rows by a cheap rule (flat colour left as it is, shaded content
// predicted).
enum class PngFilter { none, sub, up, adaptive, banded };

// The defaults are what the worker writes with. Measured on rendered pages
// (bench/png_candidates), level 1 with the band rule writes text pages at
// the size and speed of unfiltered rows (the per-row heuristic alone takes
// 60 % longer and is 6 % larger there) and photographs at the size of the
// per-row heuristic (unfiltered rows are a third larger there); level 0
// makes text a quarter larger, level 2 saves under 1 %, level 3 is twelve
// times slower on text.
struct PngSettings {
  int level = 1;  // igzip's compression level, 0 (fastest) to 3
  PngFilter filter = PngFilter::banded;
};

// Receives the bytes of the PNG file in order; answers how writing them
// went. The first answer that is not ok ends the encoding with it; what it
// throws ends the encoding too and reaches encodePng's caller.
using PngSink = std::function<IoStatus(const std::uint8_t* data, size_t size)>;

// Encodes the image as one PNG file and hands its bytes to sink, a piece at a
// time as the compressed data comes. An image that cannot be encoded (empty,
// rows shorter than width pixels, a level out of range, no memory for the
// encoder) gives IoStatus::other before sink is called.
IoStatus encodePng(const BgrImage& image, const PngSink& sink, const PngSettings& settings = {});

}  // namespace folio::codecs
