#include "assemble/decode_image.h"

namespace folio::assemble {

// No decoder is built yet: every image is unreadable.
bool decodeImage(platform::ImagingFactory* factory, const std::u16string&, DecodedImage* image) {
  return factory != nullptr && image != nullptr && false;
}

}  // namespace folio::assemble
