// PNG through libpng, asked for 8-bit blue, green, red, alpha whatever the
// stored form: palette, grey, 16-bit samples and tRNS transparency are all
// expanded, and no gamma or colour profile is applied. libpng reports a fatal
// error by jumping out of the library; every jump lands in one of the small
// functions below that hold nothing but plain values.
//
// A chunk's length is the file's word, so only the chunks the pixels need are
// read: IHDR, PLTE, tRNS, pHYs, IDAT and IEND. Every other chunk (text,
// profiles, gamma, metadata, private chunks) is passed over uninterpreted,
// its checksum unchecked, so that no declared length can make libpng allocate.
#include <png.h>

#include <cstdint>
#include <limits>

#include "codecs/header_bounds.h"
#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

// libpng's own default bound on either side. Its two rows of the widest
// form it works in (8 bytes a pixel) then take 16 MB beside the image, and
// the work done for each row stays small: a single column of the pixel
// limit's 67 million rows took 8.5 s to convert.
constexpr png_uint_32 kMaxSide = 1000000;
// No chunk libpng reads here is longer than a palette; this bounds what it
// may allocate for one all the same.
constexpr png_alloc_size_t kMaxChunkAlloc = 64 * 1024;
constexpr png_uint_32 kIdat = 0x49444154;

// What a read needs besides libpng's own state: how many chunks have begun,
// and how many bytes of data each kind may still take.
struct Reader {
  ByteSource* bytes;
  std::uint32_t chunks = 0;
  std::uint64_t otherLeft = kMaxPngOtherData;
  std::uint64_t imageLeft = std::numeric_limits<std::uint64_t>::max();  // set once IHDR is known
};

// The compressed data an image of this header can need: its rows as stored,
// each with its filter byte (an interlaced image has at most twice as many
// rows, each a byte longer at most), deflated at worst into stored blocks of
// 5 bytes' overhead each, which no encoder exceeds.
std::uint64_t imageDataBound(std::uint64_t rowBytes, std::uint64_t height) {
  const std::uint64_t raw = rowBytes * height + 4 * height;
  return raw + raw / 1024 + 64 * 1024;
}

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep data, size_t size) {
  auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
  const png_uint_32 at = png_get_io_state(png) & PNG_IO_MASK_LOC;
  if (at == PNG_IO_CHUNK_HDR && ++reader->chunks > kMaxPngChunks) png_error(png, "too many chunks");
  if (at == PNG_IO_CHUNK_DATA) {
    std::uint64_t& left =
        png_get_io_chunk_type(png) == kIdat ? reader->imageLeft : reader->otherLeft;
    if (size > left) png_error(png, "more data than the image can need");
    left -= size;
  }
  if (reader->bytes->read(data, size) != size) png_error(png, "unexpected end of file");
}

// The one ancillary chunk read: the resolution.
constexpr png_byte kUsedAncillary[] = "pHYs";

class PngFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;
  ~PngFrame() override {
    if (png_ != nullptr) png_destroy_read_struct(&png_, &pngInfo_, nullptr);
  }
  PngFrame(const PngFrame&) = delete;
  PngFrame& operator=(const PngFrame&) = delete;

  bool open() override {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (png_ == nullptr) return false;
    pngInfo_ = png_create_info_struct(png_);
    if (pngInfo_ == nullptr) return false;
    if (!readHeader()) return false;
    info_.width = png_get_image_width(png_, pngInfo_);
    info_.height = png_get_image_height(png_, pngInfo_);
    reader_.imageLeft = imageDataBound(png_get_rowbytes(png_, pngInfo_), info_.height);
    png_uint_32 x = 0, y = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    // An unknown unit gives only the pixels' aspect ratio, which is no resolution.
    if (png_get_pHYs(png_, pngInfo_, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
      setResolution(&info_, x * kMetresPerInch, y * kMetresPerInch);
    }
    return true;
  }

  bool decode(std::uint8_t* bgra) override { return readRows(bgra); }

 private:
  bool readHeader() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_set_read_fn(png_, &reader_, readData);
    png_set_user_limits(png_, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png_, kMaxChunkAlloc);
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsedAncillary, 1);
    png_set_crc_action(png_, PNG_CRC_DEFAULT, PNG_CRC_QUIET_USE);
    png_read_info(png_, pngInfo_);
    return true;
  }

  // Row by row, each pass of an interlaced image over every row, so that
  // nothing is allocated per row, however many the image has.
  bool readRows(std::uint8_t* bgra) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_set_expand(png_);
    png_set_scale_16(png_);
    png_set_gray_to_rgb(png_);
    png_set_bgr(png_);
    png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png_);
    png_read_update_info(png_, pngInfo_);
    const size_t rowBytes = size_t{info_.width} * 4;
    if (png_get_rowbytes(png_, pngInfo_) != rowBytes) return false;
    for (int pass = 0; pass < passes; ++pass) {
      for (std::uint32_t y = 0; y < info_.height; ++y) {
        png_read_row(png_, bgra + y * rowBytes, nullptr);
      }
    }
    return true;
  }

  Reader reader_{&bytes_};
  png_structp png_ = nullptr;
  png_infop pngInfo_ = nullptr;
};

}  // namespace

std::unique_ptr<ImageFrame> openPngFrame(ByteSource&& source) {
  return openFrame<PngFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
