// The image decoder over arbitrary bytes: whatever the file holds, every
// codec behind decodeImage answers true or false without crashing, and on
// true the record is one the images job can hand to PDFium as it is. A JPEG
// that may be placed as stored is also read that way, and what it keeps is
// never more than the file nor more than its decoded pixels would take. A
// decoded image always makes its page document.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "assemble/decode_image.h"
#include "assemble/page_document.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const auto factory = folio::codecs::createImagingFactory();
  folio::fuzz::InputFile input(data, size);
  if (const auto frame = factory->openFirstFrame(input.path())) {
    const folio::codecs::FrameInfo& info = frame->info();
    std::vector<std::uint8_t> stored;
    // As the images job does: only a frame within the pixel limit is read as stored,
    // and what is placed is a whole stream, a prefix of the file.
    if (info.placeableJpeg && folio::assemble::uprightFrameOf(info) &&
        frame->readStoredJpeg(&stored) == folio::codecs::StoredJpeg::placeable &&
        (stored.size() < 4 || stored.back() != 0xD9 || stored.size() > size ||
         stored.size() > std::size_t{info.width} * 4 * info.height ||
         std::memcmp(stored.data(), data, stored.size()) != 0)) {
      std::abort();
    }
  }
  folio::assemble::DecodedImage image;
  if (!folio::assemble::decodeImage(factory.get(), input.path(), &image)) return 0;
  const std::uint64_t stride = (std::uint64_t{image.width} * 3 + 3) & ~std::uint64_t{3};
  if (image.width == 0 || image.height == 0 || image.stride != stride ||
      image.pixels.size() != stride * image.height || image.pixels.size() > 0x10000000) {
    std::abort();
  }
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint64_t i = std::uint64_t{image.width} * 3; i < stride; ++i) {
      if (image.pixels[y * stride + i] != 0xFF) std::abort();
    }
  }
  if (!std::isfinite(image.dpiX) || !std::isfinite(image.dpiY) || image.dpiX < 10 ||
      image.dpiY < 10) {
    std::abort();
  }
  std::vector<std::uint8_t> page;
  if (!folio::assemble::writePageDocument(image, 72.0, 72.0, &page) ||
      std::memcmp(page.data(), "%PDF-1.7\n", 9) != 0) {
    std::abort();
  }
  return 0;
}
