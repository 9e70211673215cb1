// WebP through libwebp. Its demuxer finds the first frame of an animation
// as readily as the one image of a still file; that frame is decoded alone,
// as stored, without blending it onto a canvas.
//
// The demuxer wants its data in memory, so the container is walked here
// first and only what the first frame needs is read: the extended header,
// the animation header, the frame with its alpha. Metadata, colour profiles
// and later frames stay in the file. What is kept is bounded by the size the
// file announces for its image, so a small header over gigabytes of data
// costs nothing.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

constexpr size_t kRiffHeaderSize = 12;
constexpr size_t kChunkHeaderSize = 8;
constexpr size_t kExtendedHeaderSize = 10;   // the VP8X chunk's payload
constexpr size_t kBitstreamHeaderSize = 10;  // a VP8 frame's tag, start code and size

// The first frame must lie within this many bytes of the file's start,
// twice the largest image's pixels at 4 bytes a pixel.
constexpr std::uint64_t kMaxFrameEnd = 2 * kMaxImageBytes;
// The frame's coded data may take at most this much a pixel, and this much
// besides for its headers and tables: lossless coding of noise can take more
// than the 4 bytes of the decoded pixel, and nothing real comes near 8.
constexpr std::uint64_t kMaxCodedBytesPerPixel = 8;
constexpr std::uint64_t kCodedBytesSlack = 64 * 1024;
// An alpha plane holds one sample a pixel, raw or losslessly coded.
constexpr std::uint64_t kMaxAlphaBytesPerPixel = 2;

bool isChunk(const std::uint8_t* fourcc, const char* name) {
  return std::memcmp(fourcc, name, 4) == 0;
}

std::uint32_t le24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }

// The size a VP8 or VP8L bitstream announces in its first bytes; none when
// they are not the start of one. (WebPGetInfo would also want the whole
// first partition of a lossy frame.)
std::optional<std::uint64_t> announcedPixels(const std::uint8_t* fourcc,
                                             const std::uint8_t* payload, size_t size) {
  if (isChunk(fourcc, "VP8 ") && size >= 10 && payload[3] == 0x9D && payload[4] == 0x01 &&
      payload[5] == 0x2A) {
    return std::uint64_t(le16(payload + 6) & 0x3FFF) * (le16(payload + 8) & 0x3FFF);
  }
  if (isChunk(fourcc, "VP8L") && size >= 5 && payload[0] == 0x2F) {
    const std::uint32_t bits = le32(payload + 1);
    return std::uint64_t((bits & 0x3FFF) + 1) * (((bits >> 14) & 0x3FFF) + 1);
  }
  return std::nullopt;
}

struct DemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

class WebpFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;
  ~WebpFrame() override {
    if (haveFrame_) WebPDemuxReleaseIterator(&frame_);
  }
  WebpFrame(const WebpFrame&) = delete;
  WebpFrame& operator=(const WebpFrame&) = delete;

  bool open() override {
    if (!readFirstFrame()) return false;
    const WebPData whole{data_.data(), data_.size()};
    demux_.reset(WebPDemux(&whole));
    if (!demux_) return false;
    haveFrame_ = WebPDemuxGetFrame(demux_.get(), 1, &frame_) != 0;
    if (!haveFrame_ || frame_.width <= 0 || frame_.height <= 0) return false;
    info_.width = static_cast<std::uint32_t>(frame_.width);
    info_.height = static_cast<std::uint32_t>(frame_.height);
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    // Straight alpha; a frame without alpha comes out with 255.
    return WebPDecodeBGRAInto(frame_.fragment.bytes, frame_.fragment.size, bgra, pixelBytes(),
                              static_cast<int>(info_.width * 4)) != nullptr;
  }

 private:
  // Copies the RIFF header and the chunks the first frame needs into data_,
  // with the RIFF size made to match, so that the demuxer sees a whole file.
  // Every size a chunk declares is checked against what the file holds and
  // what the image may take before anything is kept.
  bool readFirstFrame() {
    const std::optional<std::uint64_t> fileSize = bytes_.fileSize();
    if (!fileSize) return false;
    data_.resize(kRiffHeaderSize);
    if (bytes_.read(data_.data(), kRiffHeaderSize) != kRiffHeaderSize) return false;
    const std::uint64_t end = std::min(
        {std::uint64_t{kChunkHeaderSize} + le32(data_.data() + 4), *fileSize, kMaxFrameEnd});
    std::uint64_t at = kRiffHeaderSize;
    std::optional<std::uint64_t> pixels;  // announced by the canvas or the one image
    std::uint64_t budget = 0;             // coded bytes the frame may still take
    for (;;) {
      std::uint8_t header[kChunkHeaderSize];
      if (at + kChunkHeaderSize > end ||
          bytes_.read(header, kChunkHeaderSize) != kChunkHeaderSize) {
        return false;
      }
      const std::uint32_t size = le32(header + 4);
      const bool first = at == kRiffHeaderSize;
      at += kChunkHeaderSize;
      if (at + size > end) return false;
      // The pad byte after an odd size, when the file has one.
      const std::uint64_t padded = std::min(std::uint64_t{size} + (size & 1), end - at);
      const bool extended = isChunk(header, "VP8X");
      const bool still = isChunk(header, "VP8 ") || isChunk(header, "VP8L");
      const bool animated = isChunk(header, "ANMF");
      const bool alpha = isChunk(header, "ALPH");
      if (first && !extended && !still) return false;
      if (!extended && !still && !animated && !alpha && !isChunk(header, "ANIM")) {
        // Metadata and whatever else: not needed for the pixels.
        if (!bytes_.skip(static_cast<size_t>(padded))) return false;
        at += padded;
        continue;
      }
      if (extended && size < kExtendedHeaderSize) return false;
      // The header fields that announce the image's size come first, so that
      // the rest is weighed against it before it is read.
      const size_t kept = data_.size();
      const size_t known = std::min<size_t>(size, extended ? kExtendedHeaderSize
                                                  : still  ? kBitstreamHeaderSize
                                                           : 0);
      data_.insert(data_.end(), header, header + kChunkHeaderSize);
      data_.resize(kept + kChunkHeaderSize + known);
      std::uint8_t* payload = data_.data() + kept + kChunkHeaderSize;
      if (bytes_.read(payload, known) != known) return false;
      if (!pixels) {
        pixels = extended ? std::optional<std::uint64_t>(std::uint64_t(le24(payload + 4) + 1) *
                                                         (le24(payload + 7) + 1))
                          : announcedPixels(header, payload, known);
        if (!pixels || *pixels == 0 || *pixels > kMaxImagePixels) return false;
        budget = *pixels * kMaxCodedBytesPerPixel + kCodedBytesSlack;
      }
      // A bitstream is weighed against its own size as well as the canvas's,
      // an alpha plane against one sample a pixel.
      const std::optional<std::uint64_t> own =
          still ? announcedPixels(header, payload, known) : std::nullopt;
      if (padded > budget ||
          (still && (!own || padded > *own * kMaxCodedBytesPerPixel + kCodedBytesSlack)) ||
          (alpha && padded > *pixels * kMaxAlphaBytesPerPixel + kCodedBytesSlack)) {
        return false;
      }
      budget -= padded;
      const size_t rest = static_cast<size_t>(padded) - known;
      data_.resize(data_.size() + rest);
      if (bytes_.read(data_.data() + kept + kChunkHeaderSize + known, rest) != rest) return false;
      at += padded;
      if (still || animated) break;
    }
    const auto riffSize = static_cast<std::uint32_t>(data_.size() - kChunkHeaderSize);
    for (int i = 0; i < 4; ++i) data_[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
    return true;
  }

  std::vector<std::uint8_t> data_;
  std::unique_ptr<WebPDemuxer, DemuxDeleter> demux_;
  WebPIterator frame_{};
  bool haveFrame_ = false;
};

}  // namespace

std::unique_ptr<ImageFrame> openWebpFrame(ByteSource&& source) {
  return openFrame<WebpFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
