// PNG through libpng, asked for 8-bit blue, green, red, alpha whatever the
// stored form: palette, grey, 16-bit samples and tRNS transparency are all
// expanded, and no gamma or colour profile is applied. libpng reports a fatal
// error by jumping out of the library; every jump lands in one of the small
// functions below that hold nothing but plain values.
#include <png.h>

#include <vector>

#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep data, size_t size) {
  auto* bytes = static_cast<ByteSource*>(png_get_io_ptr(png));
  if (bytes->read(data, size) != size) png_error(png, "unexpected end of file");
}

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
    png_uint_32 x = 0, y = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    // An unknown unit gives only the pixels' aspect ratio, which is no resolution.
    if (png_get_pHYs(png_, pngInfo_, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
      setResolution(&info_, x * kMetresPerInch, y * kMetresPerInch);
    }
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    std::vector<png_bytep> rows(info_.height);
    for (size_t y = 0; y < rows.size(); ++y) rows[y] = bgra + y * info_.width * 4;
    return readRows(rows.data());
  }

 private:
  bool readHeader() {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_set_read_fn(png_, &bytes_, readData);
    png_read_info(png_, pngInfo_);
    return true;
  }

  bool readRows(png_bytepp rows) {
    if (setjmp(png_jmpbuf(png_))) return false;
    png_set_expand(png_);
    png_set_scale_16(png_);
    png_set_gray_to_rgb(png_);
    png_set_bgr(png_);
    png_set_filler(png_, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png_);
    png_read_update_info(png_, pngInfo_);
    if (png_get_rowbytes(png_, pngInfo_) != size_t{info_.width} * 4) return false;
    png_read_image(png_, rows);
    return true;
  }

  png_structp png_ = nullptr;
  png_infop pngInfo_ = nullptr;
};

}  // namespace

std::unique_ptr<ImageFrame> openPngFrame(ByteSource&& source) {
  return openFrame<PngFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
