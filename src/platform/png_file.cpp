// Writing an encoded PNG file: the same on every system, over File.
#include "platform/png_encoder.h"

namespace folio::platform {

IoStatus writePng(File& file, const BgrImage& image) {
  return encodePng(image, [&file](const std::uint8_t* rest, size_t left) {
    while (left > 0) {
      const File::WriteResult r = file.writeSome(rest, left);
      if (r.written == 0) return r.status == IoStatus::ok ? IoStatus::other : r.status;
      rest += r.written;
      left -= r.written;
    }
    return IoStatus::ok;
  });
}

}  // namespace folio::platform
