#include "assemble/upright.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

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

// compositeOverWhite for every alpha and colour value, looked up rather
// than divided for each of the three values of every translucent pixel.
struct CompositeTable {
  std::uint8_t values[256][256];
  CompositeTable() {
    for (unsigned a = 0; a < 256; ++a) {
      for (unsigned c = 0; c < 256; ++c) {
        values[a][c] =
            compositeOverWhite(static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(a));
      }
    }
  }
};

const CompositeTable& compositeTable() {
  static const CompositeTable table;
  return table;
}

inline void flattenPixel(const std::uint8_t* from, std::uint8_t* to, const CompositeTable& table) {
  std::uint8_t pixel[4];
  std::memcpy(pixel, from, 4);
  const std::uint8_t alpha = pixel[3];
  if (alpha != 255) {
    const std::uint8_t* over = table.values[alpha];
    pixel[0] = over[pixel[0]];
    pixel[1] = over[pixel[1]];
    pixel[2] = over[pixel[2]];
  }
  std::memcpy(to, pixel, 3);
}

std::uint64_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Four opaque pixels at once, the common case of a photograph: 16 bytes of
// blue, green, red, alpha packed into 12 of blue, green, red. False, with
// nothing written, when any of the four is not opaque.
bool flattenFourOpaque(std::uint64_t a, std::uint64_t b, std::uint8_t* to) {
  constexpr std::uint64_t kAlphas = 0xFF000000FF000000u;
  if ((a & b & kAlphas) != kAlphas) return false;
  const std::uint64_t first = (a & 0xFFFFFF) | ((a >> 8) & 0xFFFFFF000000) | (b << 48);
  const auto last = static_cast<std::uint32_t>(((b >> 16) & 0xFF) | ((b >> 24) & 0xFFFFFF00));
  std::memcpy(to, &first, 8);
  std::memcpy(to + 8, &last, 4);
  return true;
}

// Upright rows [y0, y1), columns [x0, x1).
void flattenBlock(const std::uint8_t* stored, const Walk& walk, std::uint32_t x0, std::uint32_t x1,
                  std::uint32_t y0, std::uint32_t y1, std::uint8_t* out, std::size_t stride) {
  const std::ptrdiff_t step = walk.stepX;
  const CompositeTable& table = compositeTable();
  for (std::uint32_t y = y0; y < y1; ++y) {
    // Counted as an index, not a pointer, so that stepping past either end
    // of a stored row after its last pixel stays well defined.
    std::ptrdiff_t at = walk.origin + static_cast<std::ptrdiff_t>(x0) * walk.stepX +
                        static_cast<std::ptrdiff_t>(y) * walk.stepY;
    std::uint8_t* to = out + y * stride + std::size_t{x0} * 3;
    std::uint32_t x = x0;
    if constexpr (std::endian::native == std::endian::little) {
      for (; x + 4 <= x1; x += 4, at += 4 * step, to += 12) {
        const std::uint64_t a = load32(stored + at * 4) | load32(stored + (at + step) * 4) << 32;
        const std::uint64_t b =
            load32(stored + (at + 2 * step) * 4) | load32(stored + (at + 3 * step) * 4) << 32;
        if (flattenFourOpaque(a, b, to)) continue;
        for (int i = 0; i < 4; ++i) flattenPixel(stored + (at + i * step) * 4, to + i * 3, table);
      }
    }
    for (; x < x1; ++x, at += step, to += 3) flattenPixel(stored + at * 4, to, table);
  }
}

}  // namespace

Transform transformForOrientation(std::uint32_t orientation) {
  // Indexed by the orientation value; 0 and 1 both leave the image as stored.
  constexpr Transform kTransforms[] = {
      Transform::none,           Transform::none,
      Transform::flipHorizontal, Transform::rotate180,
      Transform::flipVertical,   Transform::rotate90FlipHorizontal,
      Transform::rotate90,       Transform::rotate270FlipHorizontal,
      Transform::rotate270,
  };
  return orientation < std::size(kTransforms) ? kTransforms[orientation] : Transform::none;
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
  // A quarter turn reads stored columns: strips 64 pixels wide keep the 64
  // stored rows they touch in the cache while the strip is walked down.
  constexpr std::uint32_t kStrip = 64;
  for (std::uint32_t x0 = 0; x0 < outWidth; x0 += kStrip) {
    const std::uint32_t x1 = x0 + std::min(kStrip, outWidth - x0);
    flattenBlock(stored, walk, x0, x1, 0, outHeight, out, stride);
  }
}

ImageMatrix placementMatrix(Transform transform, double w, double h) {
  // The image's own space has its first row at y = 1; each case maps that
  // stored corner to where the upright table sends it.
  switch (transform) {
    case Transform::flipHorizontal:
      return {-w, 0, 0, h, w, 0};
    case Transform::rotate180:
      return {-w, 0, 0, -h, w, h};
    case Transform::flipVertical:
      return {w, 0, 0, -h, 0, h};
    case Transform::rotate90FlipHorizontal:  // transpose
      return {0, -h, -w, 0, w, h};
    case Transform::rotate90:
      return {0, -h, w, 0, 0, h};
    case Transform::rotate270FlipHorizontal:  // transverse
      return {0, h, w, 0, 0, 0};
    case Transform::rotate270:
      return {0, h, -w, 0, w, 0};
    case Transform::none:
      break;
  }
  return {w, 0, 0, h, 0, 0};
}

}  // namespace folio::assemble
