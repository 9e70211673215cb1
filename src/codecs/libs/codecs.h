// Shared ground of the codecs behind the imaging factory on POSIX: the byte
// source every decoder reads from, and one opener per container format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "codecs/imaging.h"
#include "platform/files.h"

namespace folio::codecs::libs {

using platform::File;

// The Orientation tag (274) of IFD0 in an EXIF block ("Exif\0\0" and a TIFF
// structure, as a JPEG's APP1 segment holds it), taken only when it is one
// SHORT or one LONG; any other type or count is no orientation at all.
std::optional<std::uint32_t> exifOrientation(const std::uint8_t* data, size_t size);

// An open image file read from front to back through one buffer. The first
// bytes can be looked at before any decoder takes them, so the format is
// chosen by content, and a decoder reads no further than it needs.
class ByteSource {
 public:
  explicit ByteSource(File file);

  // Makes up to size bytes available without consuming them; the number
  // available is less only when the file ends first.
  size_t peek(size_t size, const std::uint8_t** data);

  // Copies size bytes; fewer only at the end of the file or on a read error.
  size_t read(void* out, size_t size);

  // The buffered bytes not consumed yet, refilled from the file when none
  // are left; empty at the end of the file. Taking them consumes them.
  struct Chunk {
    const std::uint8_t* data;
    size_t size;
  };
  Chunk nextChunk();

  // Passes over size bytes; false when the file ends first.
  bool skip(size_t size);

  // Bytes read from an offset of the file itself, the buffer aside, for a
  // decoder that seeks: as many as there are, up to size.
  size_t readAt(std::uint64_t offset, void* out, size_t size);

  // The file's length; none when the system cannot tell.
  std::optional<std::uint64_t> fileSize() const { return file_.size(); }

 private:
  bool fill(size_t wanted);

  File file_;
  std::vector<std::uint8_t> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// The first frame of a file in one codec's hands. open() reads the header
// and fills info_; decode() writes the pixels, and runs at most once, into a
// buffer of exactly the size info_ gives.
class CodecFrame : public ImageFrame {
 public:
  explicit CodecFrame(ByteSource&& bytes) : bytes_(std::move(bytes)) {}
  virtual bool open() = 0;
  bool copyPixels(std::uint8_t* bgra, std::size_t size) final {
    if (decoded_ || size != pixelBytes()) return false;
    decoded_ = true;
    try {
      return decode(bgra);
    } catch (const std::bad_alloc&) {  // a codec's own working memory
      return false;
    }
  }

 protected:
  virtual bool decode(std::uint8_t* bgra) = 0;
  std::size_t pixelBytes() const { return std::size_t{info_.width} * 4 * info_.height; }

  ByteSource bytes_;

 private:
  bool decoded_ = false;
};

template <typename Frame>
std::unique_ptr<ImageFrame> openFrame(ByteSource&& source) {
  auto frame = std::make_unique<Frame>(std::move(source));
  if (!frame->open()) return nullptr;
  return frame;
}

// Each opener reads its format's header and hands back the first frame, or
// null when the file is not a readable image of that format.
std::unique_ptr<ImageFrame> openJpegFrame(ByteSource&& source);
std::unique_ptr<ImageFrame> openPngFrame(ByteSource&& source);
std::unique_ptr<ImageFrame> openGifFrame(ByteSource&& source);
std::unique_ptr<ImageFrame> openTiffFrame(ByteSource&& source);
std::unique_ptr<ImageFrame> openBmpFrame(ByteSource&& source);
std::unique_ptr<ImageFrame> openWebpFrame(ByteSource&& source);

// Little-endian fields, as BMP and RIFF store them.
inline std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

// Densities stored per centimetre or per metre, turned into dots per inch.
inline constexpr double kCentimetresPerInch = 2.54;
inline constexpr double kMetresPerInch = 0.0254;

inline void setResolution(FrameInfo* info, double dpiX, double dpiY) {
  info->hasResolution = true;
  info->dpiX = dpiX;
  info->dpiY = dpiY;
}

}  // namespace folio::codecs::libs
