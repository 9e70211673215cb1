// BMP through stb_image, built here for BMP alone so that a damaged bitmap
// can never be taken for some other format. stb_image leaves the header's
// resolution aside, so the few fixed fields that needs are read here.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_NO_THREAD_LOCALS
#include <stb/stb_image.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;  // the oldest form: 16-bit sizes, no resolution
constexpr size_t kInfoHeaderSize = 40;  // and every later form, which extends it
constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kBitFields = 3;

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::int32_t les32(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

struct StbFree {
  void operator()(stbi_uc* p) const { stbi_image_free(p); }
};

// The whole file is read first: a bitmap's rows are stored uncompressed, so
// its length tells at once whether it holds the rows its header declares.
// stb_image itself would fill missing rows with black, and spend as long on
// a few bytes declaring millions of pixels as on a real image.
class BmpFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;

  bool open() override {
    if (!bytes_.readRest(&data_) || data_.size() > INT_MAX) return false;
    if (data_.size() < kFileHeaderSize + kCoreHeaderSize) return false;
    const std::uint8_t* dib = data_.data() + kFileHeaderSize;
    const std::uint32_t headerSize = le32(dib);
    std::int64_t width = 0, height = 0;
    std::uint32_t bitsPerPixel = 0, compression = kUncompressed;
    if (headerSize == kCoreHeaderSize) {
      width = le16(dib + 4);
      height = le16(dib + 6);
      bitsPerPixel = le16(dib + 10);
    } else if (headerSize >= kInfoHeaderSize && data_.size() >= kFileHeaderSize + headerSize) {
      width = les32(dib + 4);
      height = les32(dib + 8);  // negative: rows stored top down
      if (height < 0) height = -height;
      bitsPerPixel = le16(dib + 14);
      compression = le32(dib + 16);
      setResolution(&info_, les32(dib + 24) * kMetresPerInch, les32(dib + 28) * kMetresPerInch);
    } else {
      return false;
    }
    if (width <= 0 || height <= 0 || width > 0xFFFFFFFF || height > 0xFFFFFFFF) return false;
    if (compression != kUncompressed && compression != kBitFields) return false;
    // Rows are padded to whole 32-bit words and start at the offset the file
    // header gives, or right after the headers.
    const std::uint64_t rowBytes = (std::uint64_t(width) * bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t start = std::max<std::uint64_t>(le32(data_.data() + 10),
                                                        kFileHeaderSize + headerSize);
    if (start + rowBytes * std::uint64_t(height) > data_.size()) return false;
    info_.width = static_cast<std::uint32_t>(width);
    info_.height = static_cast<std::uint32_t>(height);
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    int width = 0, height = 0, channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> rgba(stbi_load_from_memory(
        data_.data(), static_cast<int>(data_.size()), &width, &height, &channels, 4));
    if (!rgba || static_cast<std::uint32_t>(width) != info_.width ||
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
  std::vector<std::uint8_t> data_;
};

}  // namespace

std::unique_ptr<ImageFrame> openBmpFrame(ByteSource&& source) {
  return openFrame<BmpFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
