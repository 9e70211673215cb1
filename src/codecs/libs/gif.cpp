// GIF through giflib, record by record: the decoder reads the file only up
// to the first image and never looks at the frames after it.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

// Records before the first image are read a few bytes at a time: a file of
// nothing but empty extensions would take minutes to pass. No real file
// holds more than this ahead of its first image.
constexpr std::uint64_t kMaxBytesBeforeImage = 16 << 20;

// The image's coded data: at most 12 bits a pixel, a length byte every 255,
// and clear codes far apart.
std::uint64_t imageDataBound(std::uint64_t pixels) { return pixels * 2 + 64 * 1024; }

// A clear code yields no pixel and costs giflib a reset of its whole table
// (4096 entries, about a microsecond), so a stream of them could take
// minutes within the bound above. Encoders clear when the table fills, or
// every 254 codes or so to store pixels uncompressed; this allows one in 64.
std::uint64_t clearCodeBound(std::uint64_t pixels) { return pixels / 64 + 4096; }

// Follows the codes of the image's data at the widths giflib reads them,
// counting clear codes, until the end code.
class ClearCodes {
 public:
  void start(unsigned minimumSize, std::uint64_t allowed) {
    minimum_ = std::min(minimumSize, 11u);
    allowed_ = allowed;
    restart();
  }

  // False once the data holds more clear codes than allowed.
  bool take(const std::uint8_t* data, size_t size) {
    for (size_t i = 0; i < size && !ended_; ++i) {
      bits_ |= std::uint32_t{data[i]} << held_;
      held_ += 8;
      while (held_ >= width_ && !ended_) {
        const std::uint32_t code = bits_ & ((1u << width_) - 1);
        bits_ >>= width_;
        held_ -= width_;
        // As giflib does after every code: the table grows, and with it the width.
        if (next_ < kMaxCode + 2 && ++next_ > limit_ && width_ < 12) {
          limit_ <<= 1;
          ++width_;
        }
        if (code == (1u << minimum_) + 1) ended_ = true;
        if (code == 1u << minimum_) {
          if (++clears_ > allowed_) return false;
          restart();
        }
      }
    }
    return true;
  }

 private:
  static constexpr std::uint32_t kMaxCode = 4095;
  void restart() {
    width_ = minimum_ + 1;
    next_ = (1u << minimum_) + 2;
    limit_ = 1u << width_;
  }

  unsigned minimum_ = 2, width_ = 3, held_ = 0;
  std::uint32_t bits_ = 0, next_ = 0, limit_ = 0;
  std::uint64_t clears_ = 0, allowed_ = 0;
  bool ended_ = false;
};

// The file, and how many bytes giflib may still take of it. giflib reads
// the image's data a sub-block at a time: its length byte, then its bytes.
struct Reader {
  explicit Reader(ByteSource* source) : bytes(source) {}
  ByteSource* bytes;
  std::uint64_t left = kMaxBytesBeforeImage;
  std::uint8_t last = 0;  // the last byte read: the data's code size once the image begins
  bool inImage = false;
  size_t blockLeft = 0;
  ClearCodes clears;
};

int readData(GifFileType* gif, GifByteType* data, int size) {
  auto* reader = static_cast<Reader*>(gif->UserData);
  if (size <= 0 || static_cast<std::uint64_t>(size) > reader->left) return 0;
  const size_t n = reader->bytes->read(data, static_cast<size_t>(size));
  reader->left -= n;
  if (n == 0) return 0;
  reader->last = data[n - 1];
  if (reader->inImage) {
    if (reader->blockLeft == 0) {
      reader->blockLeft = n == 1 ? data[0] : 0;
    } else {
      reader->blockLeft -= std::min(reader->blockLeft, n);
      if (!reader->clears.take(data, n)) return 0;
    }
  }
  return static_cast<int>(n);
}

struct Bgra {
  std::uint8_t b, g, r, a;
};

class GifFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;
  ~GifFrame() override {
    int error = 0;
    if (gif_ != nullptr) DGifCloseFile(gif_, &error);
  }
  GifFrame(const GifFrame&) = delete;
  GifFrame& operator=(const GifFrame&) = delete;

  bool open() override {
    int error = 0;
    gif_ = DGifOpen(&reader_, readData, &error);
    if (gif_ == nullptr) return false;
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
      GifRecordType type = UNDEFINED_RECORD_TYPE;
      if (DGifGetRecordType(gif_, &type) == GIF_ERROR) return false;
      if (type == IMAGE_DESC_RECORD_TYPE) break;
      if (type != EXTENSION_RECORD_TYPE) return false;  // the file ends without an image
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif_, &code, &block) == GIF_ERROR) return false;
      // The last graphic control block before the image says which colour
      // index is transparent in it.
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
        GraphicsControlBlock control;
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
          transparent = control.TransparentColor;
        }
      }
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif_, &block) == GIF_ERROR) return false;
      }
    }
    if (DGifGetImageDesc(gif_) == GIF_ERROR) return false;
    const ColorMapObject* colours =
        gif_->Image.ColorMap != nullptr ? gif_->Image.ColorMap : gif_->SColorMap;
    if (colours == nullptr || gif_->Image.Width <= 0 || gif_->Image.Height <= 0) return false;
    // Indices the colour table does not cover come out black.
    palette_.fill(Bgra{0, 0, 0, 255});
    for (int i = 0; i < colours->ColorCount && i < 256; ++i) {
      const GifColorType& c = colours->Colors[i];
      palette_[static_cast<size_t>(i)] = Bgra{c.Blue, c.Green, c.Red, 255};
    }
    if (transparent >= 0 && transparent < 256) {
      palette_[static_cast<size_t>(transparent)] = Bgra{0, 0, 0, 0};
    }
    info_.width = static_cast<std::uint32_t>(gif_->Image.Width);
    info_.height = static_cast<std::uint32_t>(gif_->Image.Height);
    const std::uint64_t pixels = std::uint64_t{info_.width} * info_.height;
    reader_.left = imageDataBound(pixels);
    reader_.clears.start(reader_.last, clearCodeBound(pixels));
    reader_.inImage = true;
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    std::vector<GifPixelType> line(info_.width);
    // Interlaced rows arrive in four passes: every eighth row from 0, every
    // eighth from 4, every fourth from 2, every second from 1.
    static constexpr std::uint32_t kStart[] = {0, 4, 2, 1};
    static constexpr std::uint32_t kStep[] = {8, 8, 4, 2};
    const int passes = gif_->Image.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const std::uint32_t start = passes == 1 ? 0 : kStart[pass];
      const std::uint32_t step = passes == 1 ? 1 : kStep[pass];
      for (std::uint32_t y = start; y < info_.height; y += step) {
        if (DGifGetLine(gif_, line.data(), static_cast<int>(info_.width)) == GIF_ERROR) {
          return false;
        }
        std::uint8_t* row = bgra + size_t{y} * info_.width * 4;
        for (std::uint32_t x = 0; x < info_.width; ++x) {
          std::memcpy(row + size_t{x} * 4, &palette_[line[x]], 4);
        }
      }
    }
    return true;
  }

 private:
  Reader reader_{&bytes_};
  GifFileType* gif_ = nullptr;
  std::array<Bgra, 256> palette_{};
};

}  // namespace

std::unique_ptr<ImageFrame> openGifFrame(ByteSource&& source) {
  return openFrame<GifFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
