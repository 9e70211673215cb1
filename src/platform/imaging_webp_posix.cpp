// WebP through libwebp. Its demuxer finds the first frame of an animation
// as readily as the one image of a still file; that frame is decoded alone,
// as stored, without blending it onto a canvas.
#include <webp/decode.h>
#include <webp/demux.h>

#include <vector>

#include "platform/imaging_codecs_posix.h"

namespace folio::platform::codecs {
namespace {

struct DemuxDeleter {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

class WebpFrame final : public ImageFrame {
 public:
  WebpFrame() = default;
  ~WebpFrame() override {
    if (haveFrame_) WebPDemuxReleaseIterator(&frame_);
  }
  WebpFrame(const WebpFrame&) = delete;
  WebpFrame& operator=(const WebpFrame&) = delete;

  bool open(ByteSource& bytes) {
    if (!bytes.readRest(&data_)) return false;
    const WebPData whole{data_.data(), data_.size()};
    demux_.reset(WebPDemux(&whole));
    if (!demux_) return false;
    haveFrame_ = WebPDemuxGetFrame(demux_.get(), 1, &frame_) != 0;
    if (!haveFrame_ || frame_.width <= 0 || frame_.height <= 0) return false;
    info_.width = static_cast<std::uint32_t>(frame_.width);
    info_.height = static_cast<std::uint32_t>(frame_.height);
    return true;
  }

  bool copyPixels(std::uint8_t* bgra, std::size_t size) override {
    if (decoded_ || size != size_t{info_.width} * 4 * info_.height) return false;
    decoded_ = true;
    // Straight alpha; a frame without alpha comes out with 255.
    return WebPDecodeBGRAInto(frame_.fragment.bytes, frame_.fragment.size, bgra, size,
                              static_cast<int>(info_.width * 4)) != nullptr;
  }

 private:
  std::vector<std::uint8_t> data_;
  std::unique_ptr<WebPDemuxer, DemuxDeleter> demux_;
  WebPIterator frame_{};
  bool haveFrame_ = false;
  bool decoded_ = false;
};

}  // namespace

std::unique_ptr<ImageFrame> openWebpFrame(ByteSource&& source) {
  auto frame = std::make_unique<WebpFrame>();
  if (!frame->open(source)) return nullptr;
  return frame;
}

}  // namespace folio::platform::codecs
