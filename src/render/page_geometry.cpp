#include "render/page_geometry.h"

#include <cmath>

namespace folio::render {
namespace {

// The widest row whose byte count, 3 * width, still fits an int32.
constexpr std::int32_t kMaxWidth = 715827882;
constexpr double kMaxSide = 2147483647.0;

}  // namespace

bool isRenderablePage(double width, double height, std::int32_t rotation) {
  return std::isfinite(width) && std::isfinite(height) && width > 0.0 && height > 0.0 &&
         static_cast<std::uint32_t>(rotation) <= 3;
}

std::optional<PageBitmapSize> pageBitmapSize(double width, double height) {
  const double pixelsWide = std::ceil(kPixelsPerPoint * width);
  const double pixelsHigh = std::ceil(kPixelsPerPoint * height);
  if (!(pixelsWide <= kMaxSide) || !(pixelsHigh <= kMaxSide)) return std::nullopt;
  const auto w = static_cast<std::int32_t>(pixelsWide);
  const auto h = static_cast<std::int32_t>(pixelsHigh);
  if (w <= 0 || h <= 0 || w > kMaxWidth) return std::nullopt;
  // Formed in 64 bits: the stride of the widest row allowed above already
  // leaves the int32 range, and such a page must fail the size limit, not
  // wrap around it.
  const std::uint64_t stride =
      (std::uint64_t{3} * static_cast<std::uint32_t>(w) + 3) & ~std::uint64_t{3};
  const std::uint64_t bytes = stride * static_cast<std::uint32_t>(h);
  if (bytes == 0 || bytes > kMaxPageBytes) return std::nullopt;
  return PageBitmapSize{w, h, static_cast<std::int32_t>(stride), bytes};
}

}  // namespace folio::render
