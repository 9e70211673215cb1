#include "codecs/png_encoder.h"

#include <libdeflate.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace folio::codecs {
namespace {

// 144 dots per inch, in the pixels per metre the PNG format records.
constexpr std::uint32_t kPixelsPerMetre = 5669;

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type and CRC
constexpr size_t kHeaderBytes = sizeof kSignature + (kChunkOverhead + 13) + (kChunkOverhead + 9);
constexpr size_t kIdatDataOffset = kHeaderBytes + 8;  // past the IDAT length and type
constexpr size_t kTrailerBytes = 4 + kChunkOverhead;  // IDAT CRC, then IEND
constexpr size_t kMaxChunkData = 0x7FFFFFFF;

// The PNG filter types used here; average and Paeth are not.
enum RowFilter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2 };

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using ScopedCompressor = std::unique_ptr<libdeflate_compressor, CompressorDeleter>;

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

// Writes a chunk's length and type at out; the data follows them, and the
// CRC (over type and data) after the data is put by finishChunk.
std::uint8_t* startChunk(std::uint8_t* out, const char* type, std::uint32_t length) {
  putBigEndian(out, length);
  std::memcpy(out + 4, type, 4);
  return out + 8;
}

std::uint8_t* finishChunk(std::uint8_t* chunkType, size_t dataLength) {
  const std::uint32_t crc = libdeflate_crc32(0, chunkType, 4 + dataLength);
  putBigEndian(chunkType + 4 + dataLength, crc);
  return chunkType + 4 + dataLength + 4;
}

// The loops below treat the first pixel of a row (which has no left
// neighbour) on its own, so that the loop over the rest has no branch and
// the compiler can vectorise it: filtering is a large share of the time.
constexpr size_t kBpp = 3;

// One row filtered by one method; prev is the row above in RGB order (all
// zeros for the first row), cur this row in RGB order.
void applyFilter(RowFilter filter, const std::uint8_t* __restrict prev,
                 const std::uint8_t* __restrict cur, size_t n, std::uint8_t* __restrict out) {
  switch (filter) {
    case kNone:
      std::memcpy(out, cur, n);
      break;
    case kSub:
      std::memcpy(out, cur, kBpp);
      for (size_t i = kBpp; i < n; ++i) out[i] = cur[i] - cur[i - kBpp];
      break;
    case kUp:
      for (size_t i = 0; i < n; ++i) out[i] = cur[i] - prev[i];
      break;
  }
}

std::uint32_t magnitude(std::uint8_t v) {
  return static_cast<std::uint32_t>(std::abs(static_cast<std::int8_t>(v)));
}

// The usual heuristic: the filter whose output, read as signed bytes, has the
// smallest sum of magnitudes usually compresses best. The sums are formed in
// one pass over the row, without writing any trial output. Paeth is left
// out: on rendered pages it made the encoding a third slower and the files
// less than half a per cent smaller.
RowFilter chooseFilter(const std::uint8_t* __restrict prev, const std::uint8_t* __restrict cur,
                       size_t n) {
  std::uint32_t none = 0, sub = 0, up = 0;
  for (size_t i = 0; i < kBpp; ++i) {
    none += magnitude(cur[i]);
    sub += magnitude(cur[i]);
    up += magnitude(cur[i] - prev[i]);
  }
  for (size_t i = kBpp; i < n; ++i) {
    none += magnitude(cur[i]);
    sub += magnitude(cur[i] - cur[i - kBpp]);
    up += magnitude(cur[i] - prev[i]);
  }
  if (none <= sub && none <= up) return kNone;
  return sub <= up ? kSub : kUp;
}

// Four bytes at a time: the bytes B, G, R of a pixel (and one byte of the
// next) are read as one little-endian word, turned around, and stored as R,
// G, B and a byte that the next pixel overwrites. The last pixel, which has
// no next one to read or overwrite, is copied byte by byte.
static_assert(std::endian::native == std::endian::little, "bgrToRgb reads little-endian words");

void bgrToRgb(const std::uint8_t* __restrict bgr, std::uint32_t width,
              std::uint8_t* __restrict rgb) {
  const size_t last = size_t{width} - 1;
  for (size_t x = 0; x < last; ++x) {
    std::uint32_t word;
    std::memcpy(&word, bgr + 3 * x, 4);
    word = __builtin_bswap32(word) >> 8;
    std::memcpy(rgb + 3 * x, &word, 4);
  }
  rgb[3 * last] = bgr[3 * last + 2];
  rgb[3 * last + 1] = bgr[3 * last + 1];
  rgb[3 * last + 2] = bgr[3 * last];
}

// The image data as the PNG format compresses it: each row in RGB order,
// behind the byte that names its filter.
void filterRows(const BgrImage& image, PngFilter mode, std::uint8_t* out) {
  const size_t rowBytes = size_t{image.width} * 3;
  std::vector<std::uint8_t> rows(rowBytes * 2, 0);  // the row above, this row
  std::uint8_t* prev = rows.data();
  std::uint8_t* cur = rows.data() + rowBytes;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    bgrToRgb(image.pixels + size_t{y} * image.stride, image.width, cur);
    std::uint8_t* line = out + y * (rowBytes + 1);
    RowFilter chosen = mode == PngFilter::up ? kUp : kNone;
    if (mode == PngFilter::adaptive) chosen = chooseFilter(prev, cur, rowBytes);
    line[0] = chosen;
    applyFilter(chosen, prev, cur, rowBytes, line + 1);
    std::swap(prev, cur);
  }
}

// A buffer kept from one page to the next (and so is the compressor, with
// its tables). The pages of a document are mostly of one size, and memory
// fresh from the system costs a page fault for every 4 KiB touched: nearly a
// third of the encoding time of a text page.
// A buffer larger than kKeptBytes is given back after each use, so that one
// huge page does not hold its memory for the rest of the job.
class ScratchBuffer {
 public:
  static constexpr size_t kKeptBytes = size_t{64} << 20;

  std::uint8_t* get(size_t size) {
    if (size > capacity_) {
      data_.reset();
      capacity_ = 0;
      data_.reset(new (std::nothrow) std::uint8_t[size]);
      if (!data_) return nullptr;
      capacity_ = size;
    }
    return data_.get();
  }
  void trim() {
    if (capacity_ > kKeptBytes) {
      data_.reset();
      capacity_ = 0;
    }
  }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  size_t capacity_ = 0;
};

struct Scratch {
  ScratchBuffer rows;  // the filtered rows
  ScratchBuffer file;  // the PNG file
  ScopedCompressor compressor;
  int compressorLevel = 0;

  libdeflate_compressor* compressorFor(int level) {
    if (!compressor || compressorLevel != level) {
      compressor.reset(libdeflate_alloc_compressor(level));
      compressorLevel = level;
    }
    return compressor.get();
  }
};

thread_local Scratch scratch;

// Releases what a call took beyond kKeptBytes, however the call ends.
struct ScratchTrim {
  ~ScratchTrim() {
    scratch.rows.trim();
    scratch.file.trim();
  }
};

// Lays out the chunks around the compressed data, which already sits at
// kIdatDataOffset in png; the size of the whole file.
size_t finishFile(std::uint8_t* png, const BgrImage& image, size_t compressed) {
  std::uint8_t* out = png;
  std::memcpy(out, kSignature, sizeof kSignature);
  out += sizeof kSignature;

  std::uint8_t* data = startChunk(out, "IHDR", 13);
  putBigEndian(data, image.width);
  putBigEndian(data + 4, image.height);
  const std::uint8_t form[5] = {8, 2, 0, 0, 0};  // 8 bits, truecolour, deflate, no interlace
  std::memcpy(data + 8, form, sizeof form);
  out = finishChunk(out + 4, 13);

  data = startChunk(out, "pHYs", 9);
  putBigEndian(data, kPixelsPerMetre);
  putBigEndian(data + 4, kPixelsPerMetre);
  data[8] = 1;  // the unit is the metre
  out = finishChunk(out + 4, 9);

  startChunk(out, "IDAT", static_cast<std::uint32_t>(compressed));
  out = finishChunk(out + 4, compressed);

  startChunk(out, "IEND", 0);
  out = finishChunk(out + 4, 0);
  return static_cast<size_t>(out - png);
}

}  // namespace

IoStatus encodePng(const BgrImage& image, const PngSink& sink, const PngSettings& settings) {
  if (!image.pixels || image.width == 0 || image.height == 0 ||
      image.stride / 3 < image.width || image.width > kMaxChunkData / 3 - 1) {
    return IoStatus::other;
  }
  const size_t rawBytes = size_t{image.height} * (size_t{image.width} * 3 + 1);
  const ScratchTrim trim;
  libdeflate_compressor* compressor = scratch.compressorFor(settings.level);
  if (!compressor) return IoStatus::other;
  const size_t bound = libdeflate_zlib_compress_bound(compressor, rawBytes);

  // libdeflate compresses a whole buffer at once, so the filtered rows and
  // the file are both held in memory until the file is handed on.
  std::uint8_t* raw = scratch.rows.get(rawBytes);
  std::uint8_t* png = scratch.file.get(kIdatDataOffset + bound + kTrailerBytes);
  if (!raw || !png) return IoStatus::other;
  filterRows(image, settings.filter, raw);
  const size_t compressed =
      libdeflate_zlib_compress(compressor, raw, rawBytes, png + kIdatDataOffset, bound);
  if (compressed == 0 || compressed > kMaxChunkData) return IoStatus::other;
  return sink(png, finishFile(png, image, compressed));
}

}  // namespace folio::codecs
