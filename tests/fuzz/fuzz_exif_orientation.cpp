// The EXIF orientation reader over arbitrary APP1 payloads: any answer is
// fine, a crash, a leak or a read outside the block is not.
#include "codecs/libs/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  folio::codecs::libs::exifOrientation(data, size);
  return 0;
}
