// The headers of a PNG or a TIFF, walked by seeking through the file: a
// chunk's or a directory's declared sizes are judged from a few bytes each,
// and nothing they declare is read.
#include "codecs/wic/header_checks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "codecs/header_bounds.h"
#include "platform/files.h"

namespace folio::codecs {
namespace {

// The file read through a window of its bytes, so that a run of small
// chunks costs one read for many.
class Window {
 public:
  explicit Window(platform::File& file) : file_(file) {}

  // size bytes at offset at; false when the file ends first.
  bool read(std::uint64_t at, void* out, std::size_t size) {
    if (at < start_ || at - start_ + size > bytes_.size()) fill(at, std::max(size, kSize));
    if (at < start_ || at - start_ + size > bytes_.size()) return false;
    std::memcpy(out, bytes_.data() + (at - start_), size);
    return true;
  }

 private:
  static constexpr std::size_t kSize = 64 * 1024;

  void fill(std::uint64_t at, std::size_t size) {
    bytes_.resize(size);
    std::size_t got = 0;
    while (got < size) {
      const std::size_t n = file_.readSomeAt(at + got, bytes_.data() + got, size - got);
      if (n == 0) break;
      got += n;
    }
    bytes_.resize(got);
    start_ = at;
  }

  platform::File& file_;
  std::uint64_t start_ = 0;
  std::vector<std::uint8_t> bytes_;
};

std::uint64_t number(const std::uint8_t* p, std::size_t size, bool bigEndian) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < size; ++i) {
    value |= std::uint64_t{p[bigEndian ? i : size - 1 - i]} << (8 * (size - 1 - i));
  }
  return value;
}

// Every chunk up to the end chunk, after the image data too: the component
// reads the chunks that follow the image for their metadata as well.
bool pngExceeds(Window& file) {
  constexpr std::uint64_t kIdat = 0x49444154, kIend = 0x49454E44;
  std::uint64_t at = 8, other = 0;
  std::uint32_t chunks = 0;
  std::uint8_t header[8];
  while (file.read(at, header, sizeof header)) {
    if (++chunks > kMaxPngChunks) return true;
    const std::uint64_t length = number(header, 4, true), type = number(header + 4, 4, true);
    // Past 2^31 - 1 a length is damage, which every decoder refuses.
    if (type == kIend || length > 0x7FFFFFFF) return false;
    if (type != kIdat && (other += length) > kMaxPngOtherData) return true;
    at += 12 + length;
  }
  return false;
}

// The first directory of a TIFF (classic or BigTIFF), its values as a
// decoder takes them.
class TiffDirectory {
 public:
  bool read(Window& file, const std::uint8_t head[16]) {
    file_ = &file;
    bigEndian_ = head[0] == 'M';
    const std::uint64_t magic = number(head + 2, 2, bigEndian_);
    if (magic == 43 && number(head + 4, 2, bigEndian_) == 8) {
      offsetSize_ = 8;
    } else if (magic != 42) {
      return false;
    }
    const std::size_t countSize = offsetSize_ == 8 ? 8 : 2;
    entrySize_ = 4 + 2 * offsetSize_;
    std::uint8_t count[8];
    const std::uint64_t at = number(head + 4 + (offsetSize_ == 8 ? 4 : 0), offsetSize_, bigEndian_);
    if (!file.read(at, count, countSize)) return false;
    // A decoder takes no directory of more entries than this.
    const std::uint64_t entries = number(count, countSize, bigEndian_);
    if (entries == 0 || entries > 4096) return false;
    entries_.resize(entries * entrySize_);
    return file.read(at + countSize, entries_.data(), entries_.size());
  }

  bool has(std::uint16_t tag) const { return find(tag) != nullptr; }

  // The index-th value of tag, SHORT, LONG or LONG8; fallback when the tag
  // is absent or holds fewer values, none when it cannot be read.
  std::optional<std::uint64_t> value(std::uint16_t tag, std::uint64_t index,
                                     std::uint64_t fallback) const {
    const std::uint8_t* entry = find(tag);
    if (entry == nullptr) return fallback;
    const std::uint64_t type = number(entry + 2, 2, bigEndian_);
    const std::size_t size = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
    if (size == 0) return std::nullopt;
    const std::uint64_t count = number(entry + 4, offsetSize_, bigEndian_);
    if (index >= count) return fallback;
    const std::uint8_t* field = entry + 4 + offsetSize_;
    if (count <= offsetSize_ / size) return number(field + index * size, size, bigEndian_);
    std::uint8_t bytes[8];
    if (!file_->read(number(field, offsetSize_, bigEndian_) + index * size, bytes, size)) {
      return std::nullopt;
    }
    return number(bytes, size, bigEndian_);
  }

 private:
  const std::uint8_t* find(std::uint16_t tag) const {
    for (std::size_t at = 0; at < entries_.size(); at += entrySize_) {
      if (number(&entries_[at], 2, bigEndian_) == tag) return &entries_[at];
    }
    return nullptr;
  }

  Window* file_ = nullptr;
  bool bigEndian_ = false;
  std::size_t offsetSize_ = 4, entrySize_ = 12;
  std::vector<std::uint8_t> entries_;
};

// What the other back-end refuses of a first directory: more samples a pixel
// than an image carries, or strips or tiles that inflate far past the image.
bool tiffExceeds(Window& file, const std::uint8_t head[16]) {
  TiffDirectory d;
  if (!d.read(file, head)) return false;
  const auto width = d.value(256, 0, 0), height = d.value(257, 0, 0);
  const auto samples = d.value(277, 0, 1), bits = d.value(258, 0, 1), planar = d.value(284, 0, 1);
  const auto photometric = d.value(262, 0, 0);
  const bool tiled = d.has(322);
  const auto pieceWidth = tiled ? d.value(322, 0, 0) : width;
  const auto rows = tiled ? d.value(323, 0, 0) : d.value(278, 0, 0xFFFFFFFF);
  const auto across = d.value(530, 0, 2), down = d.value(530, 1, 2);
  if (!width || !height || !samples || !bits || !planar || !photometric || !pieceWidth || !rows ||
      !across || !down || *width == 0 || *height == 0) {
    return false;
  }
  if (*samples > kMaxTiffSamples) return true;
  // Sizes, widths and subsampling that no decoder takes are left to the
  // component.
  constexpr std::uint64_t kMax32 = 0xFFFFFFFF;
  if (*width > kMax32 || *height > kMax32 || *pieceWidth > kMax32 || *rows > kMax32 || *bits > 64 ||
      *across == 0 || *across > 4 || *down == 0 || *down > 4) {
    return false;
  }
  const bool separate = *planar == 2;
  const std::uint64_t pieceHeight = tiled ? *rows : std::clamp<std::uint64_t>(*rows, 1, *height);
  // YCbCr, subsampled, takes a block of luma samples and two of chroma for
  // each across by down pixels.
  const bool subsampled = *photometric == 6 && !separate && *samples == 3;
  const std::uint64_t blockWidth = subsampled ? *across : 1, blockHeight = subsampled ? *down : 1;
  const std::uint64_t blockSamples = subsampled ? *across * *down + 2 : separate ? 1 : *samples;
  const std::uint64_t rowBytes =
      ((*pieceWidth + blockWidth - 1) / blockWidth * blockSamples * *bits + 7) / 8;
  const std::uint64_t blockRows = (pieceHeight + blockHeight - 1) / blockHeight;
  if (rowBytes != 0 && blockRows > std::numeric_limits<std::uint64_t>::max() / rowBytes) {
    return true;
  }
  return !tiffPiecesFit(*width, *height, *pieceWidth, pieceHeight, separate ? *samples : 1,
                        rowBytes * blockRows);
}

}  // namespace

bool headersExceedBounds(const std::u16string& path) {
  platform::File opened = platform::openForReading(path);
  Window file(opened);
  std::uint8_t head[16] = {};
  if (!opened.isOpen() || !file.read(0, head, 8)) return false;
  if (std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) == 0) return pngExceeds(file);
  file.read(0, head, sizeof head);
  if (std::memcmp(head, "II", 2) == 0 || std::memcmp(head, "MM", 2) == 0) {
    return tiffExceeds(file, head);
  }
  return false;
}

}  // namespace folio::codecs
