// WebP through libwebp. Its demuxer finds the first frame of an animation
// as readily as the one image of a still file; that frame is decoded alone,
// as stored, without blending it onto a canvas.
#include <webp/decode.h>
#include <webp/demux.h>

#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

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
    if (!bytes_.readRest(&data_)) return false;
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
