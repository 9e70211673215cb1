#include "assemble/decode_image.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "assemble/upright.h"
#include "platform/files.h"

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

bool decodeImage(codecs::ImagingFactory* factory, const std::u16string& path,
                 DecodedImage* image) {
  if (factory == nullptr || image == nullptr) return false;
  // A file far larger than any image within the limit could need is refused
  // before a codec reads a byte of it: reading it would only cost time and
  // memory to fail later.
  const auto fileSize = platform::queryFileSize(path);
  if (fileSize && *fileSize > codecs::kMaxImageFileBytes) return false;
  const auto frame = factory->openFirstFrame(path);
  if (!frame) return false;
  const codecs::FrameInfo& info = frame->info();

  const Transform transform = transformForOrientation(info.exifOrientation.value_or(1));
  const bool quarter = turnsQuarter(transform);
  image->width = quarter ? info.height : info.width;
  image->height = quarter ? info.width : info.height;
  if (info.hasResolution && usableResolution(info.dpiX, info.dpiY)) {
    image->dpiX = info.dpiX;
    image->dpiY = info.dpiY;
  }
  if (quarter) std::swap(image->dpiX, image->dpiY);

  // Checked on the size the header declares, before any pixel buffer exists,
  // so that a small file claiming a huge image costs nothing.
  const std::uint64_t pixelCount = std::uint64_t{image->width} * image->height;
  if (pixelCount == 0 || pixelCount > kMaxImageBytes / 4) return false;
  const std::size_t storedSize = static_cast<std::size_t>(pixelCount) * 4;

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
  flattenUpright(stored.get(), info.width, info.height, transform, image->pixels.data(),
                 image->stride);
  return true;
}

}  // namespace folio::assemble
