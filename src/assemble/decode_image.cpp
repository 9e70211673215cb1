#include "assemble/decode_image.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace folio::assemble {
namespace {

using codecs::kMaxImageBytes;

// A resolution below this is taken for a placeholder, not a real density.
constexpr double kMinDpi = 10.0;

struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

bool usableResolution(double dpiX, double dpiY) {
  return std::isfinite(dpiX) && std::isfinite(dpiY) && dpiX >= kMinDpi && dpiY >= kMinDpi;
}

}  // namespace

std::optional<UprightFrame> uprightFrameOf(const codecs::FrameInfo& info) {
  UprightFrame upright;
  upright.transform = transformForOrientation(info.exifOrientation.value_or(1));
  const bool quarter = turnsQuarter(upright.transform);
  upright.width = quarter ? info.height : info.width;
  upright.height = quarter ? info.width : info.height;
  if (info.hasResolution && usableResolution(info.dpiX, info.dpiY)) {
    upright.dpiX = info.dpiX;
    upright.dpiY = info.dpiY;
  }
  if (quarter) std::swap(upright.dpiX, upright.dpiY);
  // Checked on the size the header declares, before any pixel buffer exists,
  // so that a small file claiming a huge image costs nothing.
  const std::uint64_t pixelCount = std::uint64_t{upright.width} * upright.height;
  if (pixelCount == 0 || pixelCount > kMaxImageBytes / 4) return std::nullopt;
  return upright;
}

bool decodeFrame(codecs::ImageFrame* frame, DecodedImage* image) {
  if (frame == nullptr || image == nullptr) return false;
  const codecs::FrameInfo& info = frame->info();
  const std::optional<UprightFrame> upright = uprightFrameOf(info);
  if (!upright) return false;
  image->width = upright->width;
  image->height = upright->height;
  image->dpiX = upright->dpiX;
  image->dpiY = upright->dpiY;

  const std::size_t storedSize = std::size_t{info.width} * 4 * info.height;
  // Zeroed memory from calloc costs nothing until the decoder writes it.
  const std::unique_ptr<std::uint8_t, FreeDeleter> stored(
      static_cast<std::uint8_t*>(std::calloc(storedSize, 1)));
  if (!stored || !frame->copyPixels(stored.get(), storedSize)) return false;

  const std::uint64_t stride = strideForWidth(image->width);
  if (stride * image->height > kMaxImageBytes) return false;
  image->stride = static_cast<std::uint32_t>(stride);
  try {
    image->pixels.assign(static_cast<std::size_t>(stride * image->height), 0xFF);
  } catch (const std::bad_alloc&) {
    return false;
  }
  flattenUpright(stored.get(), info.width, info.height, upright->transform, image->pixels.data(),
                 image->stride);
  return true;
}

bool decodeImage(codecs::ImagingFactory* factory, const std::u16string& path, DecodedImage* image) {
  if (factory == nullptr || image == nullptr) return false;
  const auto frame = factory->openFirstFrame(path);
  return frame && decodeFrame(frame.get(), image);
}

}  // namespace folio::assemble
