#include "platform/png_encoder.h"

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace folio::platform {
namespace {

// 144 dots per inch, in the pixels per metre the PNG format records.
constexpr std::uint32_t kPixelsPerMetre = 5669;

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type and CRC
constexpr size_t kHeaderBytes = sizeof kSignature + (kChunkOverhead + 13) + (kChunkOverhead + 9);
constexpr size_t kIdatDataOffset = kHeaderBytes + 8;  // past the IDAT length and type
constexpr size_t kTrailerBytes = 4 + kChunkOverhead;  // IDAT CRC, then IEND
constexpr size_t kMaxChunkData = 0x7FFFFFFF;

enum RowFilter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kPaeth = 4 };

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

std::uint8_t paethPredictor(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// One row filtered by one method; prev is the row above in RGB order (all
// zeros for the first row), cur this row in RGB order.
void applyFilter(RowFilter filter, const std::uint8_t* prev, const std::uint8_t* cur, size_t n,
                 std::uint8_t* out) {
  switch (filter) {
    case kNone:
      std::memcpy(out, cur, n);
      break;
    case kSub:
      for (size_t i = 0; i < n; ++i) out[i] = cur[i] - (i >= 3 ? cur[i - 3] : 0);
      break;
    case kUp:
      for (size_t i = 0; i < n; ++i) out[i] = cur[i] - prev[i];
      break;
    case kPaeth:
      for (size_t i = 0; i < n; ++i) {
        const int a = i >= 3 ? cur[i - 3] : 0, c = i >= 3 ? prev[i - 3] : 0;
        out[i] = cur[i] - paethPredictor(a, prev[i], c);
      }
      break;
  }
}

// The usual heuristic: the filter whose output, read as signed bytes, has the
// smallest sum of magnitudes usually compresses best.
size_t costOf(const std::uint8_t* filtered, size_t n) {
  size_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += filtered[i] < 128 ? filtered[i] : 256 - filtered[i];
  return sum;
}

void bgrToRgb(const std::uint8_t* bgr, std::uint32_t width, std::uint8_t* rgb) {
  for (std::uint32_t x = 0; x < width; ++x, bgr += 3, rgb += 3) {
    rgb[0] = bgr[2];
    rgb[1] = bgr[1];
    rgb[2] = bgr[0];
  }
}

// The image data as the PNG format compresses it: each row in RGB order,
// behind the byte that names its filter.
void filterRows(const BgrImage& image, PngFilter mode, std::uint8_t* out) {
  const size_t rowBytes = size_t{image.width} * 3;
  std::vector<std::uint8_t> rows(rowBytes * 2, 0);  // the row above, this row
  std::vector<std::uint8_t> trial(mode == PngFilter::adaptive ? rowBytes : 0);
  std::uint8_t* prev = rows.data();
  std::uint8_t* cur = rows.data() + rowBytes;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    bgrToRgb(image.pixels + size_t{y} * image.stride, image.width, cur);
    std::uint8_t* line = out + y * (rowBytes + 1);
    RowFilter chosen = mode == PngFilter::up ? kUp : kNone;
    if (mode == PngFilter::adaptive) {
      size_t best = SIZE_MAX;
      for (RowFilter f : {kNone, kSub, kUp, kPaeth}) {
        applyFilter(f, prev, cur, rowBytes, trial.data());
        const size_t cost = costOf(trial.data(), rowBytes);
        if (cost < best) {
          best = cost;
          chosen = f;
        }
      }
    }
    line[0] = chosen;
    applyFilter(chosen, prev, cur, rowBytes, line + 1);
    std::swap(prev, cur);
  }
}

}  // namespace

EncodedPng encodePng(const BgrImage& image, const PngSettings& settings) {
  if (!image.pixels || image.width == 0 || image.height == 0 ||
      image.stride / 3 < image.width || image.width > kMaxChunkData / 3 - 1) {
    return {};
  }
  const size_t rawBytes = size_t{image.height} * (size_t{image.width} * 3 + 1);
  ScopedCompressor compressor(libdeflate_alloc_compressor(settings.level));
  if (!compressor) return {};
  const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), rawBytes);
  // libdeflate compresses a whole buffer at once, so the filtered rows and
  // the file are both held in memory until the file is written.
  std::unique_ptr<std::uint8_t[]> raw(new (std::nothrow) std::uint8_t[rawBytes]);
  if (!raw) return {};
  filterRows(image, settings.filter, raw.get());

  EncodedPng png;
  png.bytes.reset(new (std::nothrow) std::uint8_t[kIdatDataOffset + bound + kTrailerBytes]);
  if (!png.bytes) return {};
  const size_t compressed = libdeflate_zlib_compress(compressor.get(), raw.get(), rawBytes,
                                                     png.bytes.get() + kIdatDataOffset, bound);
  raw.reset();
  if (compressed == 0 || compressed > kMaxChunkData) return {};

  std::uint8_t* out = png.bytes.get();
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
  png.size = static_cast<size_t>(out - png.bytes.get());
  return png;
}

IoStatus writePng(File& file, const BgrImage& image) {
  const EncodedPng png = encodePng(image);
  if (png.size == 0) return IoStatus::other;
  const std::uint8_t* rest = png.bytes.get();
  size_t left = png.size;
  while (left > 0) {
    const File::WriteResult r = file.writeSome(rest, left);
    if (r.written == 0) return r.status == IoStatus::ok ? IoStatus::other : r.status;
    rest += r.written;
    left -= r.written;
  }
  return IoStatus::ok;
}

}  // namespace folio::platform
