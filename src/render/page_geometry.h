// The size of a page's bitmap, and the limits a page must keep to be
// rendered. Pure functions, so that every limit can be tried directly.
#pragma once

#include <cstdint>
#include <optional>

namespace folio::render {

// Pixels per point: 144 dots per inch.
inline constexpr double kPixelsPerPoint = 2.0;

// The most memory one page's pixels may take.
inline constexpr std::uint64_t kMaxPageBytes = 268435456;  // 256 MiB

// Whether a page of this size in points, with this rotation in quarter
// turns, can be measured at all: finite, positive sides and a rotation of 0
// to 3.
bool isRenderablePage(double width, double height, std::int32_t rotation);

struct PageBitmapSize {
  std::int32_t width;   // pixels
  std::int32_t height;  // pixels
  std::int32_t stride;  // bytes from one row to the next
  std::uint64_t bytes;  // stride * height
};

// The bitmap for a page of this size in points: each side scaled and rounded
// up, rows of 3 bytes a pixel padded to a multiple of 4. Nothing when the
// bitmap would break a limit (a side beyond the int32 range, a row too wide
// to address, more than kMaxPageBytes in all).
std::optional<PageBitmapSize> pageBitmapSize(double width, double height);

}  // namespace folio::render
