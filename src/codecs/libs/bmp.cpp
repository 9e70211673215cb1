// BMP by our own reader: every form the Windows imaging component reads,
// read the way it reads them, so that both builds give the same page. The
// headers are read and every limit checked before anything is allocated;
// then the file is read front to back, a row or a small run at a time, and
// never further than the image needs.
//
// Headers: OS/2 1.x (12 bytes, 16-bit sizes, 3-byte palette entries), OS/2
// 2.x (16 or 64 bytes) and the Windows forms of 40, 52, 56, 108 and 124
// bytes. Depths 1, 4 and 8 through a palette, 16 and 32 through bit fields
// (5-5-5 and 8-8-8 when the file gives none), 24 as blue, green, red; RLE8
// and RLE4 runs. Alpha only where the imaging component gives it: from an
// alpha mask, which a 40-byte header holds only after BI_ALPHABITFIELDS and
// later headers hold themselves. A 32-bit BI_RGB bitmap with a 40-byte
// header has no alpha, whatever its fourth bytes hold.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;  // OS/2 1.x
constexpr size_t kInfoHeaderSize = 40;  // and every later form, which extends it
constexpr size_t kOs2HeaderSize = 64;   // OS/2 2.x in full
constexpr size_t kMaxHeaderSize = 124;  // BITMAPV5HEADER

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;
constexpr std::uint32_t kAlphaBitFields = 6;

struct Bgra {
  std::uint8_t b, g, r, a;
};

// One channel held in a bit field of a 16- or 32-bit pixel.
struct Field {
  std::uint32_t mask = 0;
  unsigned shift = 0;
  unsigned bits = 0;
};

// What the headers say, checked: enough to read the palette and the pixels.
struct Layout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool topDown = false;
  unsigned bitsPerPixel = 0;
  std::uint32_t compression = kRgb;
  Field red, green, blue, alpha;  // alpha.mask 0: no alpha
  std::uint32_t paletteEntries = 0;
  unsigned paletteEntrySize = 4;
  std::uint64_t paletteOffset = 0;  // from the start of the file
  std::uint64_t dataOffset = 0;
  std::uint64_t rowBytes = 0;  // uncompressed rows, padded to 32 bits
  std::optional<std::pair<std::int32_t, std::int32_t>> pixelsPerMetre;
};

std::int32_t les32(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }

// A mask's run of bits; none when the bits are not one unbroken run.
std::optional<Field> fieldOf(std::uint32_t mask) {
  Field field{mask, 0, 0};
  if (mask == 0) return field;
  while (((mask >> field.shift) & 1) == 0) ++field.shift;
  while (field.shift + field.bits < 32 && ((mask >> (field.shift + field.bits)) & 1) != 0) {
    ++field.bits;
  }
  const std::uint64_t run = ((std::uint64_t{1} << field.bits) - 1) << field.shift;
  if (run != mask) return std::nullopt;
  return field;
}

// A field's value widened or narrowed to 8 bits, the bits repeated so that
// the largest value becomes 255.
std::uint8_t channel(std::uint32_t pixel, const Field& field) {
  if (field.bits == 0) return 0;  // a colour the masks leave out
  const std::uint32_t value = (pixel & field.mask) >> field.shift;
  if (field.bits >= 8) return static_cast<std::uint8_t>(value >> (field.bits - 8));
  std::uint32_t wide = 0;
  unsigned bits = 0;
  while (bits < 8) {
    wide = (wide << field.bits) | value;
    bits += field.bits;
  }
  return static_cast<std::uint8_t>(wide >> (bits - 8));
}

// The headers, from the file's first bytes (the file header, then the
// bitmap header zero-padded to its largest form, then 16 bytes for masks
// that follow a 40-byte header). fileSize: the file's length, when known.
std::optional<Layout> parseHeaders(const std::uint8_t* file, std::uint32_t headerSize,
                                   std::optional<std::uint64_t> fileSize) {
  const std::uint8_t* dib = file + kFileHeaderSize;
  Layout layout;
  std::int64_t width = 0, height = 0;
  std::uint64_t masksAfterHeader = 0;
  if (headerSize == kCoreHeaderSize) {
    width = le16(dib + 4);
    height = le16(dib + 6);
    layout.bitsPerPixel = le16(dib + 10);
    layout.paletteEntrySize = 3;
  } else {
    width = les32(dib + 4);
    height = les32(dib + 8);
    layout.bitsPerPixel = le16(dib + 14);
    layout.compression = le32(dib + 16);
    if (headerSize >= 32) layout.pixelsPerMetre.emplace(les32(dib + 24), les32(dib + 28));
    layout.paletteEntries = headerSize >= 36 ? le32(dib + 32) : 0;
    // OS/2 2.x numbers its compressions apart from BI_RGB, RLE8 and RLE4.
    const bool os2 = headerSize == 16 || headerSize == kOs2HeaderSize;
    if (os2 && layout.compression > kRle4) return std::nullopt;
    if (layout.compression == kBitFields || layout.compression == kAlphaBitFields) {
      if (headerSize == kInfoHeaderSize) {
        masksAfterHeader = layout.compression == kAlphaBitFields ? 16 : 12;
      } else if (headerSize < 52) {
        return std::nullopt;
      }
    }
  }
  if (height < 0) {
    layout.topDown = true;
    height = -height;
  }
  if (width <= 0 || height <= 0 || std::uint64_t(width) * std::uint64_t(height) > kMaxImagePixels) {
    return std::nullopt;
  }
  layout.width = static_cast<std::uint32_t>(width);
  layout.height = static_cast<std::uint32_t>(height);

  const unsigned bpp = layout.bitsPerPixel;
  switch (layout.compression) {
    case kRgb:
      if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
        return std::nullopt;
      }
      if (headerSize == kCoreHeaderSize && (bpp == 16 || bpp == 32)) return std::nullopt;
      break;
    case kRle8:
    case kRle4:
      // Runs are stored bottom up only.
      if (bpp != (layout.compression == kRle8 ? 8u : 4u) || layout.topDown) return std::nullopt;
      break;
    case kBitFields:
    case kAlphaBitFields:
      if (bpp != 16 && bpp != 32) return std::nullopt;
      break;
    default:
      return std::nullopt;
  }

  if (bpp == 16 || bpp == 32) {
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    if (layout.compression == kRgb) {
      masks[0] = bpp == 16 ? 0x7C00 : 0xFF0000;
      masks[1] = bpp == 16 ? 0x03E0 : 0x00FF00;
      masks[2] = bpp == 16 ? 0x001F : 0x0000FF;
    } else {
      for (int i = 0; i < 3; ++i) masks[i] = le32(dib + 40 + 4 * i);
    }
    // The alpha mask: the fourth after BI_ALPHABITFIELDS, or the header's own.
    if (masksAfterHeader == 16 || (headerSize >= 56 && headerSize != kOs2HeaderSize)) {
      masks[3] = le32(dib + 52);
    }
    if (bpp == 16 && ((masks[0] | masks[1] | masks[2] | masks[3]) >> 16) != 0) return std::nullopt;
    Field* fields[4] = {&layout.red, &layout.green, &layout.blue, &layout.alpha};
    for (int i = 0; i < 4; ++i) {
      const auto field = fieldOf(masks[i]);
      if (!field) return std::nullopt;
      *fields[i] = *field;
    }
  }

  layout.paletteOffset = kFileHeaderSize + headerSize + masksAfterHeader;
  if (bpp <= 8) {
    const std::uint32_t most = std::uint32_t{1} << bpp;
    if (layout.paletteEntries == 0 || layout.paletteEntries > most) layout.paletteEntries = most;
  } else {
    layout.paletteEntries = 0;
  }
  // Pixels start where the file header says, unless that points into the
  // headers: then right after the palette. A palette cut short by them
  // keeps the entries that fit.
  const std::uint64_t paletteEnd =
      layout.paletteOffset + std::uint64_t{layout.paletteEntries} * layout.paletteEntrySize;
  const std::uint64_t declared = le32(file + 10);
  layout.dataOffset = declared >= layout.paletteOffset ? declared : paletteEnd;
  if (layout.dataOffset < paletteEnd) {
    layout.paletteEntries = static_cast<std::uint32_t>((layout.dataOffset - layout.paletteOffset) /
                                                       layout.paletteEntrySize);
  }
  layout.rowBytes = (std::uint64_t{layout.width} * bpp + 31) / 32 * 4;
  // Uncompressed rows must all be there; a file cut short is damaged.
  const bool runs = layout.compression == kRle8 || layout.compression == kRle4;
  if (fileSize && !runs && layout.dataOffset + layout.rowBytes * layout.height > *fileSize) {
    return std::nullopt;
  }
  return layout;
}

// The compressed bytes of an RLE bitmap, taken from the source a chunk at a
// time. A run can cover at most a row, and every pixel needs at most two
// bytes, so an encoder never needs more than budget bytes: past it the data
// is going nowhere.
class RunReader {
 public:
  RunReader(ByteSource* source, std::uint64_t budget) : source_(source), budget_(budget) {}

  bool next(std::uint8_t* byte) {
    if (at_ == chunk_.size) {
      if (budget_ == 0) return false;
      chunk_ = source_->nextChunk();
      at_ = 0;
      if (chunk_.size == 0) return false;
      if (chunk_.size > budget_) chunk_.size = static_cast<size_t>(budget_);
      budget_ -= chunk_.size;
    }
    *byte = chunk_.data[at_++];
    return true;
  }

 private:
  ByteSource* source_;
  std::uint64_t budget_;
  ByteSource::Chunk chunk_{nullptr, 0};
  size_t at_ = 0;
};

class BmpFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;

  bool open() override {
    // The headers are looked at in place; only the palette's offset is
    // consumed once they have passed.
    const std::uint8_t* peeked = nullptr;
    const size_t available = bytes_.peek(kHeadBytes, &peeked);
    if (available < kFileHeaderSize + 4) return false;
    const std::uint32_t headerSize = le32(peeked + kFileHeaderSize);
    constexpr std::uint32_t kKnownSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
    if (std::find(std::begin(kKnownSizes), std::end(kKnownSizes), headerSize) ==
            std::end(kKnownSizes) ||
        available < kFileHeaderSize + headerSize) {
      return false;
    }
    // Zeros past the header, so that a short form reads as the longer ones
    // with their later fields unset; the masks after a 40-byte header stay.
    std::array<std::uint8_t, kHeadBytes> head{};
    const size_t masks = headerSize == kInfoHeaderSize ? 16 : 0;
    std::memcpy(head.data(), peeked, std::min(available, kFileHeaderSize + headerSize + masks));
    const auto layout = parseHeaders(head.data(), headerSize, bytes_.fileSize());
    if (!layout || layout->paletteOffset > available || !bytes_.skip(layout->paletteOffset)) {
      return false;
    }
    layout_ = *layout;
    position_ = layout_.paletteOffset;
    info_.width = layout_.width;
    info_.height = layout_.height;
    if (layout_.pixelsPerMetre) {
      setResolution(&info_, layout_.pixelsPerMetre->first * kMetresPerInch,
                    layout_.pixelsPerMetre->second * kMetresPerInch);
    }
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    if (!readPalette() || layout_.dataOffset < position_ ||
        !bytes_.skip(static_cast<size_t>(layout_.dataOffset - position_))) {
      return false;
    }
    if (layout_.compression == kRle8 || layout_.compression == kRle4) return decodeRuns(bgra);
    std::vector<std::uint8_t> row(static_cast<size_t>(layout_.rowBytes));
    for (std::uint32_t i = 0; i < layout_.height; ++i) {
      if (bytes_.read(row.data(), row.size()) != row.size()) return false;
      const std::uint32_t y = layout_.topDown ? i : layout_.height - 1 - i;
      convertRow(row.data(), reinterpret_cast<Bgra*>(bgra) + size_t{y} * layout_.width);
    }
    return true;
  }

 private:
  // The file header, the largest bitmap header and the four masks that may
  // follow a 40-byte one.
  static constexpr size_t kHeadBytes = kFileHeaderSize + kMaxHeaderSize + 16;

  bool readPalette() {
    palette_.fill(Bgra{0, 0, 0, 255});  // indices past the palette come out black
    const size_t size = size_t{layout_.paletteEntries} * layout_.paletteEntrySize;
    std::vector<std::uint8_t> entries(size);
    if (bytes_.read(entries.data(), size) != size) return false;
    position_ += size;
    for (std::uint32_t i = 0; i < layout_.paletteEntries; ++i) {
      // The fourth byte of an entry is reserved, never alpha.
      const std::uint8_t* e = &entries[size_t{i} * layout_.paletteEntrySize];
      palette_[i] = Bgra{e[0], e[1], e[2], 255};
    }
    return true;
  }

  void convertRow(const std::uint8_t* row, Bgra* out) const {
    const unsigned bpp = layout_.bitsPerPixel;
    for (std::uint32_t x = 0; x < layout_.width; ++x) {
      if (bpp <= 8) {
        const std::uint64_t bit = std::uint64_t{x} * bpp;
        const unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        out[x] = palette_[index];
      } else if (bpp == 24) {
        const std::uint8_t* p = row + size_t{x} * 3;
        out[x] = Bgra{p[0], p[1], p[2], 255};
      } else {
        const std::uint32_t pixel =
            bpp == 16 ? le16(row + size_t{x} * 2) : le32(row + size_t{x} * 4);
        out[x] = Bgra{channel(pixel, layout_.blue), channel(pixel, layout_.green),
                      channel(pixel, layout_.red),
                      layout_.alpha.mask != 0 ? channel(pixel, layout_.alpha) : std::uint8_t{255}};
      }
    }
  }

  // Runs, absolute stretches, ends of lines, jumps and an end of the bitmap.
  // Pixels the runs never reach stay transparent black, so that they show
  // the page beneath; runs that overshoot a row are cut at its end.
  bool decodeRuns(std::uint8_t* bgra) {
    std::memset(bgra, 0, pixelBytes());
    auto* pixels = reinterpret_cast<Bgra*>(bgra);
    const bool four = layout_.compression == kRle4;
    const std::uint32_t width = layout_.width, height = layout_.height;
    const std::uint64_t budget = std::uint64_t{width} * height * 2 + std::uint64_t{height} * 4 + 2;
    RunReader reader(&bytes_, budget);
    const auto next = [&](std::uint8_t* byte) { return reader.next(byte); };
    std::uint64_t x = 0, y = 0;  // y counts rows from the bottom
    const auto put = [&](unsigned index) {
      if (x < width) pixels[size_t{height - 1 - y} * width + x] = palette_[index];
      ++x;
    };
    while (y < height) {
      std::uint8_t count = 0, value = 0;
      if (!next(&count) || !next(&value)) return false;
      if (count > 0) {
        for (unsigned i = 0; i < count && x < width; ++i) {
          put(four ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
        }
      } else if (value == 0) {  // end of the line
        x = 0;
        ++y;
      } else if (value == 1) {  // end of the bitmap
        break;
      } else if (value == 2) {  // a jump right and up
        std::uint8_t dx = 0, dy = 0;
        if (!next(&dx) || !next(&dy)) return false;
        x += dx;
        y += dy;
      } else {  // value pixels as stored, padded to a 16-bit boundary
        const unsigned stored = four ? (value + 1u) / 2 : value;
        for (unsigned i = 0; i < stored; ++i) {
          std::uint8_t byte = 0;
          if (!next(&byte)) return false;
          if (four) {
            put(byte >> 4);
            if (2 * i + 1 < value) put(byte & 0x0F);
          } else {
            put(byte);
          }
        }
        std::uint8_t pad = 0;
        if (stored % 2 == 1 && !next(&pad)) return false;
      }
    }
    return true;
  }

  Layout layout_;
  std::array<Bgra, 256> palette_{};
  std::uint64_t position_ = 0;  // in the file, of the next byte to read
};

}  // namespace

std::unique_ptr<ImageFrame> openBmpFrame(ByteSource&& source) {
  return openFrame<BmpFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
