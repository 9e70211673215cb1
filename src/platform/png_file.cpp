// Writing an encoded PNG file: the same on every system, over File.
#include "platform/png_encoder.h"

namespace folio::platform {

IoStatus writePng(File& file, const BgrImage& image) {
  return encodePng(image, [&file](const std::uint8_t* data, size_t size) {
    return file.writeAll(data, size);
  });
}

}  // namespace folio::platform
