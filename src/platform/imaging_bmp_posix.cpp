// BMP through stb_image, built here for BMP alone so that a damaged bitmap
// can never be taken for some other format. stb_image leaves the header's
// resolution aside, so the few fixed fields it needs are read here.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_NO_THREAD_LOCALS
#include <stb/stb_image.h>

#include <cstdlib>
#include <cstring>

#include "platform/imaging_codecs_posix.h"

namespace folio::platform::codecs {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;     // the oldest form: 16-bit sizes, no resolution
constexpr size_t kInfoHeaderSize = 40;     // and every later form, which extends it

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::int32_t les32(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// stb_image reads through these; a file that ends before the bitmap does
// is damaged, where stb_image alone would fill the rest with black.
struct Reader {
  ByteSource* bytes;
  bool truncated = false;
};

int readData(void* user, char* data, int size) {
  auto* reader = static_cast<Reader*>(user);
  if (size <= 0) return 0;
  const size_t n = reader->bytes->read(data, static_cast<size_t>(size));
  if (n == 0) reader->truncated = true;
  return static_cast<int>(n);
}

void skipData(void* user, int count) {
  auto* reader = static_cast<Reader*>(user);
  if (count > 0 && !reader->bytes->skip(static_cast<size_t>(count))) reader->truncated = true;
}

int atEnd(void* user) { return static_cast<Reader*>(user)->truncated ? 1 : 0; }

struct StbFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

class BmpFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;

  bool open() override {
    const std::uint8_t* head = nullptr;
    const size_t n = bytes_.peek(kFileHeaderSize + kInfoHeaderSize, &head);
    if (n < kFileHeaderSize + kCoreHeaderSize) return false;
    const std::uint8_t* dib = head + kFileHeaderSize;
    const std::uint32_t headerSize = le32(dib);
    std::int64_t width = 0, height = 0;
    if (headerSize == kCoreHeaderSize) {
      width = le16(dib + 4);
      height = le16(dib + 6);
    } else if (headerSize >= kInfoHeaderSize && n >= kFileHeaderSize + kInfoHeaderSize) {
      width = les32(dib + 4);
      height = les32(dib + 8);  // negative: rows stored top down
      if (height < 0) height = -height;
      setResolution(&info_, les32(dib + 24) * kMetresPerInch, les32(dib + 28) * kMetresPerInch);
    } else {
      return false;
    }
    if (width <= 0 || height <= 0 || width > 0xFFFFFFFF || height > 0xFFFFFFFF) return false;
    info_.width = static_cast<std::uint32_t>(width);
    info_.height = static_cast<std::uint32_t>(height);
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    Reader reader{&bytes_};
    const stbi_io_callbacks callbacks{readData, skipData, atEnd};
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> rgba(
        stbi_load_from_callbacks(&callbacks, &reader, &width, &height, &channels, 4));
    if (!rgba || reader.truncated || static_cast<std::uint32_t>(width) != info_.width ||
        static_cast<std::uint32_t>(height) != info_.height) {
      return false;
    }
    const stbi_uc* from = rgba.get();
    for (std::uint8_t* to = bgra; to != bgra + pixelBytes(); to += 4, from += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = from[3];
    }
    return true;
  }

 private:
};

}  // namespace

std::unique_ptr<ImageFrame> openBmpFrame(ByteSource&& source) {
  return openFrame<BmpFrame>(std::move(source));
}

}  // namespace folio::platform::codecs
