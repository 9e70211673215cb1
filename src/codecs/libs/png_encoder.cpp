#include "codecs/png_encoder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
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
constexpr size_t kIendBytes = kChunkOverhead;
constexpr size_t kMaxChunkData = 0x7FFFFFFF;

// Compressed data goes out in IDAT chunks of at most this many bytes, each
// handed to the sink as soon as it is full: the file is never held whole,
// and the writes are large enough to cost little.
constexpr size_t kIdatBytes = size_t{1} << 20;

// Rows are filtered into a band of up to this many rows and bytes before the
// compressor takes them: small enough to stay in the processor's cache
// between the two steps.
constexpr std::uint32_t kBandRows = 16;
constexpr size_t kBandBytes = size_t{1} << 20;

// The PNG filter types used here; average and Paeth are not.
enum RowFilter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2 };

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

// The PNG chunk CRC is the reflected CRC-32 of gzip; ISA-L takes and returns
// it without the caller's inversions, as zlib's crc32 does.
std::uint32_t chunkCrc(const std::uint8_t* typeAndData, size_t size) {
  return crc32_gzip_refl(0, typeAndData, size);
}

// Writes a whole chunk (length, type, data, CRC) at out; the end of it.
std::uint8_t* putChunk(std::uint8_t* out, const char* type, const std::uint8_t* data,
                       std::uint32_t length) {
  putBigEndian(out, length);
  std::memcpy(out + 4, type, 4);
  if (length > 0) std::memcpy(out + 8, data, length);
  putBigEndian(out + 8 + length, chunkCrc(out + 4, 4 + size_t{length}));
  return out + kChunkOverhead + length;
}

// Rows are read in pieces of up to this many bytes (whole pixels): a row
// that fits, which is nearly every row, is one piece; a longer one is taken
// a piece at a time, so that no buffer grows with the page's width.
constexpr size_t kBpp = 3;
constexpr size_t kPieceBytes = kBandBytes / kBpp * kBpp;

// The loops below read a piece of a row in RGB order with its left
// neighbour, the pixel before it, in the kBpp bytes in front of it (zeros
// at the start of a row), so that they have no branch and the compiler can
// vectorise them. prev is the same piece of the row above (all zeros for
// the first row).
void applyFilter(RowFilter filter, const std::uint8_t* __restrict prev,
                 const std::uint8_t* __restrict cur, size_t n, std::uint8_t* __restrict out) {
  switch (filter) {
    case kNone:
      std::memcpy(out, cur, n);
      break;
    case kSub: {
      const std::uint8_t* left = cur - kBpp;  // an index below zero would wrap
      for (size_t i = 0; i < n; ++i) out[i] = cur[i] - left[i];
      break;
    }
    case kUp:
      for (size_t i = 0; i < n; ++i) out[i] = cur[i] - prev[i];
      break;
  }
}

std::uint32_t magnitude(std::uint8_t v) {
  return static_cast<std::uint32_t>(std::abs(static_cast<std::int8_t>(v)));
}

// The usual heuristic: the filter whose output, read as signed bytes, has the
// smallest sum of magnitudes usually compresses best. Summed piece by piece.
struct Residuals {
  std::uint64_t none = 0, sub = 0, up = 0;

  void add(const std::uint8_t* __restrict prev, const std::uint8_t* __restrict cur, size_t n) {
    std::uint32_t pieceNone = 0, pieceSub = 0, pieceUp = 0;  // a piece cannot overflow them
    const std::uint8_t* left = cur - kBpp;
    for (size_t i = 0; i < n; ++i) {
      pieceNone += magnitude(cur[i]);
      pieceSub += magnitude(cur[i] - left[i]);
      pieceUp += magnitude(cur[i] - prev[i]);
    }
    none += pieceNone;
    sub += pieceSub;
    up += pieceUp;
  }
  RowFilter smallest() const {
    if (none <= sub && none <= up) return kNone;
    return sub <= up ? kSub : kUp;
  }
};

// The rule for a band, from its first row: whether it is flat colour (text,
// lines, filled shapes), where at least three pixels in four repeat the one
// to their left. Such rows compress best as they are, because the
// compressor finds the repeats itself and a predictor only turns each edge
// into two; shaded and photographic rows compress best predicted, and the
// usual heuristic picks the predictor row by row. Measured on rendered pages
// (bench/png_candidates), this keeps text pages at the size of unfiltered
// rows and photographs at the size of the per-row heuristic. The repeats are
// counted piece by piece (the row's first pixel has nothing to repeat).
size_t countRepeats(const std::uint8_t* cur, size_t from, size_t n) {
  size_t repeats = 0;
  const std::uint8_t* left = cur - kBpp;
  for (size_t i = from; i < n; ++i) repeats += cur[i] == left[i];
  return repeats;
}

bool isFlatColour(size_t repeats, size_t rowBytes) { return repeats * 4 >= rowBytes * 3; }

// Four bytes at a time: the bytes B, G, R of a pixel (and one byte of the
// next) are read as one little-endian word, turned around, and stored as R,
// G, B and a byte that the next pixel overwrites. The last pixel, which has
// no next one to read or overwrite, is copied byte by byte.
static_assert(std::endian::native == std::endian::little, "bgrToRgb reads little-endian words");

void bgrToRgbWords(const std::uint8_t* __restrict bgr, std::uint32_t width,
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

#if defined(__x86_64__)
// Five pixels at a time with one byte shuffle, on processors that have it
// (nearly all): the word loop above took half of the encoder's own time.
// Each step reads and writes 16 bytes; the last of them belongs to the next
// pixel, which the next step (or the tail) writes again.
__attribute__((target("ssse3"))) void bgrToRgbShuffle(const std::uint8_t* __restrict bgr,
                                                      std::uint32_t width,
                                                      std::uint8_t* __restrict rgb) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, -1);
  size_t x = 0;
  for (; x + 6 <= width; x += 5) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rgb + 3 * x), _mm_shuffle_epi8(pixels, order));
  }
  for (; x < width; ++x) {
    rgb[3 * x] = bgr[3 * x + 2];
    rgb[3 * x + 1] = bgr[3 * x + 1];
    rgb[3 * x + 2] = bgr[3 * x];
  }
}

using RowConverter = void (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);
const RowConverter bgrToRgb = __builtin_cpu_supports("ssse3") ? bgrToRgbShuffle : bgrToRgbWords;
#else
constexpr auto bgrToRgb = bgrToRgbWords;
#endif

// What one thread keeps from one page to the next: the compressor's state and
// its level buffer, the band and the output buffer. Pages of a document are
// mostly of one size, and memory fresh from the system costs a page fault
// for every 4 KiB touched. None of it grows with the page's size.
struct Scratch {
  isal_zstream stream;
  std::vector<std::uint8_t> levelBuffer;
  std::vector<std::uint8_t> rows;  // a piece of the row above and of this row, in RGB order
  std::vector<std::uint8_t> band;  // filtered rows, each behind its filter byte
  std::vector<std::uint8_t> out;   // the chunks on their way to the sink
};

thread_local std::unique_ptr<Scratch> scratch;

size_t levelBufferBytes(int level) {
  switch (level) {
    case 1:
      return ISAL_DEF_LVL1_DEFAULT;
    case 2:
      return ISAL_DEF_LVL2_DEFAULT;
    case 3:
      return ISAL_DEF_LVL3_DEFAULT;
    default:
      return 0;
  }
}

// Hands the compressed bytes gathered in the output buffer on as IDAT
// chunks, with what must come before the first one (the signature and the
// header chunks) and after the last (IEND).
class ChunkStream {
 public:
  ChunkStream(const BgrImage& image, std::vector<std::uint8_t>& out, const PngSink& sink)
      : out_(out), sink_(sink) {
    std::uint8_t* at = out_.data();
    std::memcpy(at, kSignature, sizeof kSignature);
    at += sizeof kSignature;
    std::uint8_t header[13];
    putBigEndian(header, image.width);
    putBigEndian(header + 4, image.height);
    const std::uint8_t form[5] = {8, 2, 0, 0, 0};  // 8 bits, truecolour, deflate, no interlace
    std::memcpy(header + 8, form, sizeof form);
    at = putChunk(at, "IHDR", header, sizeof header);
    std::uint8_t phys[9];
    putBigEndian(phys, kPixelsPerMetre);
    putBigEndian(phys + 4, kPixelsPerMetre);
    phys[8] = 1;  // the unit is the metre
    at = putChunk(at, "pHYs", phys, sizeof phys);
    start_ = static_cast<size_t>(at - out_.data());
  }

  // Where the compressor writes, and how much room it has.
  std::uint8_t* space() { return out_.data() + start_ + 8; }
  static constexpr size_t capacity() { return kIdatBytes; }
  static constexpr size_t bufferBytes() {
    return kHeaderBytes + kChunkOverhead + kIdatBytes + kIendBytes;
  }

  // Sends the chunk of the first `filled` bytes of space(); with `last`,
  // IEND goes in the same write.
  IoStatus send(size_t filled, bool last) {
    std::uint8_t* chunk = out_.data() + start_;
    std::uint8_t* end = chunk;
    if (filled > 0) {
      putBigEndian(chunk, static_cast<std::uint32_t>(filled));
      std::memcpy(chunk + 4, "IDAT", 4);
      putBigEndian(chunk + 8 + filled, chunkCrc(chunk + 4, 4 + filled));
      end = chunk + kChunkOverhead + filled;
    }
    if (last) end = putChunk(end, "IEND", nullptr, 0);
    const IoStatus status = sink_(out_.data(), static_cast<size_t>(end - out_.data()));
    start_ = 0;  // the header chunks went out with the first write
    return status;
  }

 private:
  std::vector<std::uint8_t>& out_;
  const PngSink& sink_;
  size_t start_ = 0;
};

}  // namespace

IoStatus encodePng(const BgrImage& image, const PngSink& sink, const PngSettings& settings) {
  if (!image.pixels || image.width == 0 || image.height == 0 || image.stride / 3 < image.width ||
      image.width > kMaxChunkData / 3 - 1 || settings.level < 0 || settings.level > 3) {
    return IoStatus::other;
  }
  const size_t rowBytes = size_t{image.width} * 3;
  const size_t piece = std::min(rowBytes, kPieceBytes);
  const bool wholeRows = piece == rowBytes;
  const auto bandRows = wholeRows ? static_cast<std::uint32_t>(std::clamp<size_t>(
                                        kBandBytes / (rowBytes + 1), 1, kBandRows))
                                  : 1;
  try {
    if (!scratch) scratch = std::make_unique<Scratch>();
    scratch->levelBuffer.resize(levelBufferBytes(settings.level));
    scratch->rows.assign((kBpp + piece) * 2, 0);
    scratch->band.resize((piece + 1) * bandRows);
    scratch->out.resize(ChunkStream::bufferBytes());
  } catch (const std::bad_alloc&) {
    return IoStatus::other;
  }
  Scratch& s = *scratch;
  isal_zstream& stream = s.stream;
  isal_deflate_init(&stream);
  stream.level = static_cast<std::uint32_t>(settings.level);
  stream.level_buf = s.levelBuffer.empty() ? nullptr : s.levelBuffer.data();
  stream.level_buf_size = static_cast<std::uint32_t>(s.levelBuffer.size());
  stream.gzip_flag = IGZIP_ZLIB;  // the zlib header and its Adler-32, as PNG wants

  ChunkStream chunks(image, s.out, sink);
  stream.next_out = chunks.space();
  stream.avail_out = static_cast<std::uint32_t>(ChunkStream::capacity());
  // Compresses size bytes at data, handing full chunks on; last ends the
  // stream.
  const auto compress = [&](std::uint8_t* data, size_t size, bool last) {
    stream.next_in = data;
    stream.avail_in = static_cast<std::uint32_t>(size);
    stream.end_of_stream = last ? 1 : 0;
    for (;;) {
      if (isal_deflate(&stream) != COMP_OK) return IoStatus::other;
      const bool finished = stream.internal_state.state == ZSTATE_END;
      if (stream.avail_out == 0 || finished) {
        const size_t filled = ChunkStream::capacity() - stream.avail_out;
        if (const IoStatus sent = chunks.send(filled, finished); sent != IoStatus::ok) return sent;
        stream.next_out = chunks.space();
        stream.avail_out = static_cast<std::uint32_t>(ChunkStream::capacity());
      }
      if (finished || (!last && stream.avail_in == 0)) return IoStatus::ok;
    }
  };

  std::uint8_t* prev = s.rows.data() + kBpp;
  std::uint8_t* cur = prev + piece + kBpp;
  // A row too long for one piece: converted piece by piece, with each
  // piece's left neighbour kept in front of it, and the same piece of the
  // row above beside it. done(offset, bytes) takes each piece in turn.
  const auto forEachPiece = [&](std::uint32_t y, const auto& done) {
    const std::uint8_t* row = image.pixels + size_t{y} * image.stride;
    std::memset(cur - kBpp, 0, kBpp);
    for (size_t at = 0; at < rowBytes; at += piece) {
      const size_t n = std::min(piece, rowBytes - at);
      const auto pixels = static_cast<std::uint32_t>(n / kBpp);
      if (at > 0) std::memcpy(cur - kBpp, cur + piece - kBpp, kBpp);
      bgrToRgb(row + at, pixels, cur);
      if (y > 0) {
        bgrToRgb(row - image.stride + at, pixels, prev);
      } else {
        std::memset(prev, 0, n);
      }
      if (const IoStatus status = done(at, n); status != IoStatus::ok) return status;
    }
    return IoStatus::ok;
  };

  for (std::uint32_t top = 0; top < image.height; top += bandRows) {
    const std::uint32_t rows = std::min(bandRows, image.height - top);
    const bool last = top + rows == image.height;
    RowFilter chosen = settings.filter == PngFilter::up ? kUp : kNone;
    if (settings.filter == PngFilter::sub) chosen = kSub;
    const bool banded = settings.filter == PngFilter::banded;
    const bool perRow = settings.filter == PngFilter::adaptive || banded;
    if (!wholeRows) {
      // One row a band: its filter is chosen over all its pieces first (the
      // residuals only for a row that is not flat colour), then the pieces
      // are converted again, filtered and compressed.
      size_t repeats = 0;
      if (banded) {
        forEachPiece(top, [&](size_t at, size_t n) {
          repeats += countRepeats(cur, at == 0 ? kBpp : 0, n);
          return IoStatus::ok;
        });
      }
      if (perRow && !(banded && isFlatColour(repeats, rowBytes))) {
        Residuals residuals;
        forEachPiece(top, [&](size_t, size_t n) {
          residuals.add(prev, cur, n);
          return IoStatus::ok;
        });
        chosen = residuals.smallest();
      }
      const IoStatus status = forEachPiece(top, [&](size_t at, size_t n) {
        std::uint8_t* out = s.band.data();
        if (at == 0) *out++ = chosen;
        applyFilter(chosen, prev, cur, n, out);
        return compress(s.band.data(), n + (at == 0 ? 1 : 0), last && at + n == rowBytes);
      });
      if (status != IoStatus::ok) return status;
      continue;
    }
    bool flat = false;
    for (std::uint32_t r = 0; r < rows; ++r) {
      bgrToRgb(image.pixels + size_t{top + r} * image.stride, image.width, cur);
      if (banded && r == 0) flat = isFlatColour(countRepeats(cur, kBpp, rowBytes), rowBytes);
      if (settings.filter == PngFilter::adaptive || (banded && !flat)) {
        Residuals residuals;
        residuals.add(prev, cur, rowBytes);
        chosen = residuals.smallest();
      }
      std::uint8_t* line = s.band.data() + r * (rowBytes + 1);
      line[0] = chosen;
      applyFilter(chosen, prev, cur, rowBytes, line + 1);
      std::swap(prev, cur);
    }
    const IoStatus status = compress(s.band.data(), rows * (rowBytes + 1), last);
    if (status != IoStatus::ok) return status;
  }
  return IoStatus::ok;
}

}  // namespace folio::codecs
