// The image codecs: what the images job needs to read any image file it is
// given. Decoders are chosen by the file's content, never by its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace folio::codecs {

// A JPEG whose data every PDF reader decodes as this decoder does: 8 bits a
// sample, Huffman-coded, baseline or progressive, in one of these colour
// forms. Such data can stand in a document as it is stored.
enum class JpegColours : std::uint8_t {
  grey,   // one component
  ycbcr,  // three, turned into RGB by the reader
  rgb,    // three, stored as RGB: the file says so (Adobe segment or component ids)
};

// The most a decoded image may take at 4 bytes a pixel: 8192 by 8192 pixels.
// Readers check their own work against it before they allocate or read.
inline constexpr std::uint64_t kMaxImageBytes = 0x10000000;
inline constexpr std::uint64_t kMaxImagePixels = kMaxImageBytes / 4;

// No file larger than this is handed to a codec. The widest pixels any
// reader takes are 16 bytes (a TIFF's 8 samples of 16 bits; more samples or
// wider ones are refused), so an image within the limit above needs at most
// 1 GiB uncompressed, and a coding that expands its data (LZW at worst by
// half) stays well below this. Only the first frame is ever read, so a
// longer file holds nothing the job can use, and a 32-bit process could not
// map it anyway.
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{2} << 30;

// What is known of a frame once its file has been opened, before any pixel
// is decoded: enough to refuse an image that is too large while nothing big
// has been allocated yet.
struct FrameInfo {
  std::uint32_t width = 0;  // as stored, before any turn
  std::uint32_t height = 0;
  // The resolution the file stores, in dots per inch; none when the format
  // has no such field or the file leaves it out.
  bool hasResolution = false;
  double dpiX = 0.0;
  double dpiY = 0.0;
  // The EXIF Orientation value (tag 274 in the first image directory of a
  // JPEG's APP1 segment), when it is stored there as one SHORT or one LONG.
  std::optional<std::uint32_t> exifOrientation;
  // Set for a JPEG whose data can be placed as stored; every other file
  // (four-colour, 12-bit, arithmetic-coded, lossless JPEGs included) leaves
  // it empty and is decoded.
  std::optional<JpegColours> placeableJpeg;
};

// What readStoredJpeg found.
enum class StoredJpeg : std::uint8_t {
  placeable,  // every block decodes cleanly: the bytes are the image
  refused,    // the data cannot be decoded: the file is as unreadable as a decode finds it
  decode,     // readable only with repairs or beyond the size the image can need: decode it
};

// The first frame of one image file, with its file still open.
class ImageFrame {
 public:
  virtual ~ImageFrame() = default;

  const FrameInfo& info() const { return info_; }

  // Decodes the frame into bgra: width * 4 * height bytes, rows from top to
  // bottom as stored, 4 bytes a pixel in the order blue, green, red, alpha,
  // alpha straight and 255 where the image has none. size must be exactly
  // that. A frame decodes once; false when its data cannot be decoded.
  virtual bool copyPixels(std::uint8_t* bgra, std::size_t size) = 0;

  // For a frame whose info has placeableJpeg: reads its data through to the
  // end of the image, decoding every block (at a reduced scale, so at a
  // fraction of a full decode's cost), and keeps in bytes the file's bytes
  // from its start to the end of the image. It refuses exactly the data
  // copyPixels refuses. A frame is either read this way or decoded, once;
  // after anything but placeable, open the file again to decode it.
  virtual StoredJpeg readStoredJpeg(std::vector<std::uint8_t>* bytes) {
    (void)bytes;
    return StoredJpeg::decode;
  }

 protected:
  FrameInfo info_;
};

// The codecs' shared state for one job, created once and handed to every
// decode of that job. openFirstFrame may be called on several threads at
// once, each with the imaging runtime set up; a frame is used on one thread.
class ImagingFactory {
 public:
  virtual ~ImagingFactory() = default;

  // Opens the file at path and reads the first frame's header. Null when the
  // file is missing, not a regular file, in no format a codec reads, or
  // damaged before its first frame. Never throws.
  virtual std::unique_ptr<ImageFrame> openFirstFrame(const std::u16string& path) const = 0;
};

// A new factory, or null when the codecs cannot be set up.
std::unique_ptr<ImagingFactory> createImagingFactory();

// What the codecs need set up on the calling thread before a job starts, and
// torn down after it. False when it cannot be set up.
bool initImagingRuntime();
void shutdownImagingRuntime();

}  // namespace folio::codecs
