#include "assemble/upright.h"

#include <algorithm>

namespace folio::assemble {
namespace {

// Where the upright pixel (x, y) sits in the stored image: at
// origin + x * stepX + y * stepY, counted in pixels.
struct Walk {
  std::ptrdiff_t origin;
  std::ptrdiff_t stepX;
  std::ptrdiff_t stepY;
};

Walk walkFor(Transform transform, std::ptrdiff_t w, std::ptrdiff_t h) {
  const std::ptrdiff_t last = w * h - 1;
  switch (transform) {
    case Transform::flipHorizontal:
      return {w - 1, -1, w};
    case Transform::rotate180:
      return {last, -1, -w};
    case Transform::flipVertical:
      return {last - (w - 1), 1, -w};
    case Transform::rotate90:  // the stored left column, bottom up, is the top row
      return {last - (w - 1), -w, 1};
    case Transform::rotate270:  // the stored right column, top down, is the top row
      return {w - 1, w, -1};
    case Transform::rotate90FlipHorizontal:
      return {0, w, 1};
    case Transform::rotate270FlipHorizontal:
      return {last, -w, -1};
    case Transform::none:
      break;
  }
  return {0, 1, w};
}

inline void flattenPixel(const std::uint8_t* from, std::uint8_t* to) {
  const std::uint8_t alpha = from[3];
  if (alpha == 255) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  } else {
    to[0] = compositeOverWhite(from[0], alpha);
    to[1] = compositeOverWhite(from[1], alpha);
    to[2] = compositeOverWhite(from[2], alpha);
  }
}

// Upright rows [y0, y1), columns [x0, x1).
void flattenBlock(const std::uint8_t* stored, const Walk& walk, std::uint32_t x0,
                  std::uint32_t x1, std::uint32_t y0, std::uint32_t y1, std::uint8_t* out,
                  std::size_t stride) {
  for (std::uint32_t y = y0; y < y1; ++y) {
    // Counted as an index, not a pointer, so that stepping past either end
    // of a stored row after its last pixel stays well defined.
    std::ptrdiff_t at =
        walk.origin + std::ptrdiff_t{x0} * walk.stepX + std::ptrdiff_t{y} * walk.stepY;
    std::uint8_t* to = out + y * stride + std::size_t{x0} * 3;
    for (std::uint32_t x = x0; x < x1; ++x, at += walk.stepX, to += 3) {
      flattenPixel(stored + at * 4, to);
    }
  }
}

}  // namespace

Transform transformForOrientation(std::uint32_t orientation) {
  switch (orientation) {
    case 2:
      return Transform::flipHorizontal;
    case 3:
      return Transform::rotate180;
    case 4:
      return Transform::flipVertical;
    case 5:
      return Transform::rotate90FlipHorizontal;
    case 6:
      return Transform::rotate90;
    case 7:
      return Transform::rotate270FlipHorizontal;
    case 8:
      return Transform::rotate270;
    default:
      return Transform::none;
  }
}

void flattenUpright(const std::uint8_t* stored, std::uint32_t width, std::uint32_t height,
                    Transform transform, std::uint8_t* out, std::size_t stride) {
  const Walk walk = walkFor(transform, width, height);
  const std::uint32_t outWidth = turnsQuarter(transform) ? height : width;
  const std::uint32_t outHeight = turnsQuarter(transform) ? width : height;
  if (!turnsQuarter(transform)) {
    flattenBlock(stored, walk, 0, outWidth, 0, outHeight, out, stride);
    return;
  }
  // A quarter turn reads stored columns: square blocks keep the stored rows
  // they touch in the cache while each is read across.
  constexpr std::uint32_t kBlock = 64;
  for (std::uint32_t y0 = 0; y0 < outHeight; y0 += kBlock) {
    const std::uint32_t y1 = std::min(outHeight, y0 + kBlock);
    for (std::uint32_t x0 = 0; x0 < outWidth; x0 += kBlock) {
      flattenBlock(stored, walk, x0, std::min(outWidth, x0 + kBlock), y0, y1, out, stride);
    }
  }
}

}  // namespace folio::assemble
