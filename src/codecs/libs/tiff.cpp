// TIFF through libtiff's RGBA reader, which knows every photometric form.
// A TIFF's directories may sit anywhere in the file, so libtiff seeks: it
// reads through positioned reads of the file itself, never a copy of it,
// and takes only what the first directory and its strips or tiles point at.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "codecs/header_bounds.h"
#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {
namespace {

// What libtiff may allocate at once (a strip or tile, its compressed bytes,
// the table of where they lie): the working memory an image is allowed
// beside its pixels.
constexpr tmsize_t kMaxSingleAlloc = 64 << 20;
// libtiff keeps every field of the directory it reads, known or not, and
// fields may all point at the same bytes: a 1 by 1 image with 30 fields of
// 60 MB peaked at 1.8 GB. What it may read of the file before the directory
// is in place: the fields the pixels need take a few MiB at most (the tables
// of 16 by 16 tiles over the largest image, 2 MiB). A field read past it is
// dropped, as one over the single allocation's limit is, and a directory
// that still lacks a field it needs is refused.
constexpr std::uint64_t kMaxDirectoryBytes = 16 << 20;

// libtiff's view of the file: where it has got to, and how long it is.
struct Cursor {
  ByteSource* bytes;
  toff_t size;
  toff_t at = 0;
  std::uint64_t left = std::numeric_limits<std::uint64_t>::max();  // bytes it may still read
};

Cursor* cursorOf(thandle_t handle) { return static_cast<Cursor*>(handle); }

tmsize_t readProc(thandle_t handle, void* out, tmsize_t size) {
  Cursor* c = cursorOf(handle);
  if (size <= 0 || c->at >= c->size || static_cast<std::uint64_t>(size) > c->left) return 0;
  const auto wanted =
      static_cast<size_t>(std::min<toff_t>(static_cast<toff_t>(size), c->size - c->at));
  const size_t n = c->bytes->readAt(c->at, out, wanted);
  c->at += n;
  c->left -= n;
  return static_cast<tmsize_t>(n);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
  Cursor* c = cursorOf(handle);
  const toff_t base = whence == SEEK_CUR ? c->at : whence == SEEK_END ? c->size : 0;
  // An offset that wraps is a damaged file; libtiff takes the error value.
  if (offset > std::numeric_limits<toff_t>::max() - base) return static_cast<toff_t>(-1);
  c->at = base + offset;
  return c->at;
}

int closeProc(thandle_t) { return 0; }

toff_t sizeProc(thandle_t handle) { return cursorOf(handle)->size; }

// Nothing is mapped: libtiff falls back on reads.
int mapProc(thandle_t, void**, toff_t*) { return 0; }

void unmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages are not ours to print: the worker writes nothing but
// its status lines.
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

void silenceLibraryWide() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

struct OptionsDeleter {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::uint8_t unpremultiply(std::uint8_t colour, std::uint8_t alpha) {
  if (alpha == 0) return 0;
  const unsigned value = (unsigned{colour} * 255 + alpha / 2u) / alpha;
  return static_cast<std::uint8_t>(std::min(value, 255u));
}

class TiffFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;
  ~TiffFrame() override {
    if (tiff_ != nullptr) TIFFClose(tiff_);
  }
  TiffFrame(const TiffFrame&) = delete;
  TiffFrame& operator=(const TiffFrame&) = delete;

  bool open() override {
    silenceLibraryWide();
    const auto size = bytes_.fileSize();
    if (!size) return false;
    cursor_.bytes = &bytes_;
    cursor_.size = *size;
    cursor_.left = kMaxDirectoryBytes;
    const std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options) return false;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAlloc);
    tiff_ = TIFFClientOpenExt("image", "rm", &cursor_, readProc, writeProc, seekProc, closeProc,
                              sizeProc, mapProc, unmapProc, options.get());
    if (tiff_ == nullptr) return false;
    // The strips or tiles are bounded on their own, below.
    cursor_.left = std::numeric_limits<std::uint64_t>::max();
    if (TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, &info_.width) != 1 ||
        TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, &info_.height) != 1 || !readable()) {
      return false;
    }
    float x = 0, y = 0;
    std::uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tiff_, TIFFTAG_XRESOLUTION, &x) == 1 &&
        TIFFGetField(tiff_, TIFFTAG_YRESOLUTION, &y) == 1) {
      TIFFGetFieldDefaulted(tiff_, TIFFTAG_RESOLUTIONUNIT, &unit);
      // Without a unit the two values give only the pixels' aspect ratio.
      if (unit == RESUNIT_INCH) setResolution(&info_, x, y);
      if (unit == RESUNIT_CENTIMETER) {
        setResolution(&info_, x * kCentimetresPerInch, y * kCentimetresPerInch);
      }
    }
    return true;
  }

  bool decode(std::uint8_t* bgra) override {
    // Asking for the orientation the file itself declares keeps the rows
    // and columns exactly as stored: libtiff then neither flips nor mirrors.
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_ORIENTATION, &orientation);
    // libtiff rounds the buffer it reads an uncompressed tile into up to a
    // whole KiB, then refuses the tile for not filling it exactly, unless the
    // file is mapped, which this one never is: 16 by 16 tiles of three
    // samples were refused. A buffer of the tile's own size, within the same
    // limit, is taken as given.
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_COMPRESSION, &compression);
    const std::uint64_t tileBytes = TIFFIsTiled(tiff_) != 0 ? TIFFTileSize64(tiff_) : 0;
    if (compression == COMPRESSION_NONE && tileBytes != 0 && tileBytes <= kMaxSingleAlloc) {
      tile_.resize(static_cast<size_t>(tileBytes));
      TIFFReadBufferSetup(tiff_, tile_.data(), static_cast<tmsize_t>(tile_.size()));
    }
    static_assert(alignof(std::max_align_t) >= alignof(std::uint32_t));
    if (TIFFReadRGBAImageOriented(tiff_, info_.width, info_.height,
                                  reinterpret_cast<std::uint32_t*>(bgra), orientation,
                                  /*stop on the first error*/ 1) != 1) {
      return false;
    }
    // libtiff packs red, green, blue, alpha in that byte order.
    const bool premultiplied = alphaIsPremultiplied();
    for (std::uint8_t* p = bgra; p != bgra + pixelBytes(); p += 4) {
      std::swap(p[0], p[2]);
      if (premultiplied && p[3] != 255) {
        p[0] = unpremultiply(p[0], p[3]);
        p[1] = unpremultiply(p[1], p[3]);
        p[2] = unpremultiply(p[2], p[3]);
      }
    }
    return true;
  }

 private:
  // Whether the RGBA reader takes this directory's form, and what it would
  // inflate to read it stays within the bound.
  bool readable() {
    std::uint16_t samples = 1, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_PLANARCONFIG, &planar);
    const std::uint64_t pixels = std::uint64_t{info_.width} * info_.height;
    char message[1024];
    if (pixels == 0 || pixels > kMaxImagePixels || samples > kMaxTiffSamples ||
        TIFFRGBAImageOK(tiff_, message) != 1) {
      return false;
    }
    const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
    if (TIFFIsTiled(tiff_) != 0) {
      std::uint32_t tileWidth = 0, tileHeight = 0;
      TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &tileWidth);
      TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &tileHeight);
      return tiffPiecesFit(info_.width, info_.height, tileWidth, tileHeight, planes,
                           TIFFTileSize64(tiff_));
    }
    std::uint32_t rows = 0;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_ROWSPERSTRIP, &rows);
    rows = std::min(std::max(rows, std::uint32_t{1}), info_.height);
    return tiffPiecesFit(info_.width, info_.height, info_.width, rows, planes,
                         TIFFStripSize64(tiff_));
  }

  // Whether the RGBA reader hands colours multiplied by alpha: it passes
  // associated alpha through and multiplies unassociated alpha in, except
  // for 8-bit grey with alpha, which it leaves as stored.
  bool alphaIsPremultiplied() {
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    std::uint16_t samples = 1, photometric = PHOTOMETRIC_RGB, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_EXTRASAMPLES, &count, &kinds);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff_, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tiff_, TIFFTAG_PHOTOMETRIC, &photometric);
    if (count == 0 || kinds == nullptr) return false;
    const bool grey =
        photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    switch (kinds[0]) {
      case EXTRASAMPLE_ASSOCALPHA:
        return true;
      case EXTRASAMPLE_UNASSALPHA:
        return !(grey && planar == PLANARCONFIG_CONTIG);
      case EXTRASAMPLE_UNSPECIFIED:
        return samples > 3;  // taken for associated alpha
      default:
        return false;
    }
  }

  Cursor cursor_{};
  std::vector<std::uint8_t> tile_;  // libtiff's raw buffer for uncompressed tiles; outlives tiff_
  TIFF* tiff_ = nullptr;
};

}  // namespace

std::unique_ptr<ImageFrame> openTiffFrame(ByteSource&& source) {
  return openFrame<TiffFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
