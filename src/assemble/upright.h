// Turning a stored image upright and flattening it onto white: the pure
// pixel work of the image decoder, kept apart so that it is tested directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace folio::assemble {

// The turn or mirror that makes a stored image upright. A turn is clockwise;
// where a turn and a mirror are combined, the turn comes first. The values
// are the transform codes of the platform's flip-rotator.
enum class Transform : std::uint8_t {
  none = 0,
  rotate90 = 1,
  rotate180 = 2,
  rotate270 = 3,
  flipHorizontal = 8,
  rotate90FlipHorizontal = 9,    // transpose
  rotate270FlipHorizontal = 11,  // transverse
  flipVertical = 16,
};

// The transform for an EXIF Orientation value; none for 1 and for every
// value outside 2 to 8.
Transform transformForOrientation(std::uint32_t orientation);

// Whether width and height (and the two resolutions) trade places.
constexpr bool turnsQuarter(Transform transform) {
  return (static_cast<std::uint8_t>(transform) & 1) != 0;
}

// The six numbers of a PDF matrix: (x, y) goes to (a x + c y + e, b x + d y + f).
struct ImageMatrix {
  double a, b, c, d, e, f;
  bool operator==(const ImageMatrix&) const = default;
};

// The matrix that draws a stored image (its unit square, first row at the
// top) upright over a whole page of pageWidth by pageHeight points: the
// transform done by the page instead of in pixels.
ImageMatrix placementMatrix(Transform transform, double pageWidth, double pageHeight);

// Bytes from one row of 24-bit pixels to the next: width * 3 rounded up to a
// multiple of 4.
constexpr std::uint64_t strideForWidth(std::uint32_t width) {
  return (std::uint64_t{width} * 3 + 3) & ~std::uint64_t{3};
}

// One colour value with straight alpha over opaque white, rounded to the
// nearest value.
constexpr std::uint8_t compositeOverWhite(std::uint8_t colour, std::uint8_t alpha) {
  return static_cast<std::uint8_t>((unsigned{colour} * alpha + 255u * (255u - alpha) + 127u) /
                                   255u);
}

// Writes the upright image, flattened onto white, from stored (width *
// height pixels of blue, green, red and straight alpha, rows top to bottom,
// no padding) into out: 3 bytes a pixel in the order blue, green, red, rows
// of stride bytes. Each pixel is read once and written once; row padding is
// left as it is.
void flattenUpright(const std::uint8_t* stored, std::uint32_t width, std::uint32_t height,
                    Transform transform, std::uint8_t* out, std::size_t stride);

}  // namespace folio::assemble
