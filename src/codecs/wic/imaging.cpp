// The image codecs of the Windows Imaging Component: the platform picks the
// decoder by the file's content, reads the EXIF orientation through its
// metadata query and converts any stored pixel format to straight-alpha BGRA.
#include "codecs/imaging.h"

#include <objbase.h>
#include <propidl.h>
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "codecs/jpeg_forms.h"
#include "codecs/wic/header_checks.h"
#include "codecs/wic/jpeg_markers.h"
#include "platform/files.h"
#include "platform/win_support.h"

namespace folio::codecs {
namespace {

using platform::win::ComPtr;

// The EXIF Orientation tag of the first image directory of the APP1 segment;
// nowhere else is an orientation looked for.
std::optional<std::uint32_t> queryOrientation(IWICBitmapFrameDecode* frame) {
  IWICMetadataQueryReader* rawReader = nullptr;
  if (FAILED(frame->GetMetadataQueryReader(&rawReader)) || rawReader == nullptr) {
    return std::nullopt;
  }
  const ComPtr<IWICMetadataQueryReader> reader(rawReader);
  PROPVARIANT value;
  PropVariantInit(&value);
  std::optional<std::uint32_t> orientation;
  if (SUCCEEDED(reader->GetMetadataByName(L"/app1/ifd/{ushort=274}", &value))) {
    if (value.vt == VT_UI2) orientation = value.uiVal;
    if (value.vt == VT_UI4) orientation = value.ulVal;
  }
  PropVariantClear(&value);
  return orientation;
}

// Bytes read from the file at one go: enough for the header of nearly every
// JPEG in one read.
constexpr std::size_t kReadChunk = 64 * 1024;

// The file at path from its start, until done() is satisfied or the file
// ends; false when the file cannot be opened or reaches limit bytes first.
template <typename Done>
bool readFileHead(const std::u16string& path, std::size_t limit, std::vector<std::uint8_t>* out,
                  Done done) {
  platform::File file = platform::openForReading(path);
  if (!file.isOpen()) return false;
  out->clear();
  for (;;) {
    if (done(*out)) return true;
    const std::size_t at = out->size();
    if (at >= limit) return false;
    out->resize(at + std::min(kReadChunk, limit - at));
    const std::size_t n = file.readSome(out->data() + at, out->size() - at);
    out->resize(at + n);
    if (n == 0) {
      done(*out);
      return true;
    }
  }
}

bool isJpeg(IWICBitmapDecoder* decoder) {
  GUID format{};
  return SUCCEEDED(decoder->GetContainerFormat(&format)) && format == GUID_ContainerFormatJpeg;
}

// The whole of a frame's data through the decoder, a band of rows at a time
// into a small buffer: whether the component can decode every block.
bool decodesThrough(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, UINT width,
                    UINT height) {
  IWICFormatConverter* rawConverter = nullptr;
  if (FAILED(factory->CreateFormatConverter(&rawConverter)) || rawConverter == nullptr) {
    return false;
  }
  const ComPtr<IWICFormatConverter> converter(rawConverter);
  if (FAILED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom))) {
    return false;
  }
  constexpr UINT kBand = 64;
  std::vector<BYTE> band(std::size_t{width} * 4 * kBand);
  for (UINT y = 0; y < height; y += kBand) {
    const WICRect rect{0, static_cast<INT>(y), static_cast<INT>(width),
                       static_cast<INT>(std::min(kBand, height - y))};
    if (FAILED(
            converter->CopyPixels(&rect, width * 4, static_cast<UINT>(band.size()), band.data()))) {
      return false;
    }
  }
  return true;
}

class WicFrame final : public ImageFrame {
 public:
  WicFrame(IWICImagingFactory* factory, std::u16string path, ComPtr<IWICBitmapDecoder> decoder,
           ComPtr<IWICBitmapFrameDecode> frame)
      : factory_(factory),
        path_(std::move(path)),
        decoder_(std::move(decoder)),
        frame_(std::move(frame)) {}

  // Reads what is known before any pixel is decoded; false when the size
  // cannot be had.
  bool readInfo() {
    info_.exifOrientation = queryOrientation(frame_.get());
    UINT width = 0;
    UINT height = 0;
    if (FAILED(frame_->GetSize(&width, &height))) return false;
    info_.width = width;
    info_.height = height;
    double dpiX = 0.0;
    double dpiY = 0.0;
    if (SUCCEEDED(frame_->GetResolution(&dpiX, &dpiY))) {
      info_.hasResolution = true;
      info_.dpiX = dpiX;
      info_.dpiY = dpiY;
    }
    if (isJpeg(decoder_.get())) readJpegHeader();
    return true;
  }

  StoredJpeg readStoredJpeg(std::vector<std::uint8_t>* bytes) override {
    if (used_ || !info_.placeableJpeg) return StoredJpeg::decode;
    used_ = true;
    try {
      return checkStoredJpeg(bytes);
    } catch (const std::bad_alloc&) {
      return StoredJpeg::decode;
    }
  }

  bool copyPixels(std::uint8_t* bgra, std::size_t size) override {
    if (used_) return false;
    used_ = true;
    if (size != pixelBytes() || size > UINT_MAX) return false;
    IWICFormatConverter* rawConverter = nullptr;
    if (FAILED(factory_->CreateFormatConverter(&rawConverter)) || rawConverter == nullptr) {
      return false;
    }
    const ComPtr<IWICFormatConverter> converter(rawConverter);
    if (FAILED(converter->Initialize(frame_.get(), GUID_WICPixelFormat32bppBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
      return false;
    }
    return SUCCEEDED(
        converter->CopyPixels(nullptr, info_.width * 4, static_cast<UINT>(size), bgra));
  }

 private:
  StoredJpeg checkStoredJpeg(std::vector<std::uint8_t>* bytes) {
    // The bytes kept never pass what the decoded image would take.
    std::vector<std::uint8_t> data;
    if (!readFileHead(path_, pixelBytes() + 1, &data, [](const auto&) { return false; }) ||
        data.size() > pixelBytes()) {
      return StoredJpeg::decode;
    }
    // The bytes placed are the bytes checked: a file changed since it was
    // opened is judged again, and decoded unless it is still placeable.
    if (scanJpegHeader(data.data(), data.size()).placeable != info_.placeableJpeg) {
      return StoredJpeg::decode;
    }
    // Up to the end of the image; whatever follows it is not the image.
    const JpegExtent extent = measureJpeg(data.data(), data.size());
    if (extent.scans > kMaxJpegScans) return StoredJpeg::refused;
    if (extent.end == 0) return StoredJpeg::decode;
    data.resize(extent.end);
    IWICStream* rawStream = nullptr;
    if (FAILED(factory_->CreateStream(&rawStream)) || rawStream == nullptr) {
      return StoredJpeg::decode;
    }
    const ComPtr<IWICStream> stream(rawStream);
    if (FAILED(stream->InitializeFromMemory(data.data(), static_cast<DWORD>(data.size())))) {
      return StoredJpeg::decode;
    }
    IWICBitmapDecoder* rawDecoder = nullptr;
    if (FAILED(factory_->CreateDecoderFromStream(stream.get(), nullptr,
                                                 WICDecodeMetadataCacheOnDemand, &rawDecoder)) ||
        rawDecoder == nullptr) {
      return StoredJpeg::refused;
    }
    const ComPtr<IWICBitmapDecoder> decoder(rawDecoder);
    IWICBitmapFrameDecode* rawFrame = nullptr;
    if (FAILED(decoder->GetFrame(0, &rawFrame)) || rawFrame == nullptr) {
      return StoredJpeg::refused;
    }
    const ComPtr<IWICBitmapFrameDecode> frame(rawFrame);
    UINT width = 0, height = 0;
    if (FAILED(frame->GetSize(&width, &height)) || width != info_.width || height != info_.height) {
      return StoredJpeg::decode;
    }
    if (!decodesThrough(factory_, frame.get(), width, height)) return StoredJpeg::refused;
    *bytes = std::move(data);
    return StoredJpeg::placeable;
  }

  std::size_t pixelBytes() const { return std::size_t{info_.width} * 4 * info_.height; }

  // What the component does not report of a JPEG, from our own marker scan:
  // how its data is coded, and its orientation where the component exposes
  // no metadata (as Wine's does not).
  void readJpegHeader() {
    std::vector<std::uint8_t> head;
    JpegHeader header;
    readFileHead(path_, kMaxHeader, &head, [&](const std::vector<std::uint8_t>& bytes) {
      header = scanJpegHeader(bytes.data(), bytes.size());
      return header.complete;
    });
    if (!header.complete) return;
    if (!info_.exifOrientation) info_.exifOrientation = header.exifOrientation;
    // Only what the component decodes as the marker scan reads it.
    WICPixelFormatGUID format{};
    if (FAILED(frame_->GetPixelFormat(&format))) return;
    const bool grey = header.placeable == JpegColours::grey;
    if ((grey && format == GUID_WICPixelFormat8bppGray) ||
        (!grey && header.placeable && format == GUID_WICPixelFormat24bppBGR)) {
      info_.placeableJpeg = header.placeable;
    }
  }

  // Marker segments are at most 64 KiB each; a header longer than this is
  // left to the decode path.
  static constexpr std::size_t kMaxHeader = 1024 * 1024;

  IWICImagingFactory* factory_;  // the job's, borrowed
  std::u16string path_;
  bool used_ = false;
  // Declared in the order of acquisition, so that the frame goes before the
  // decoder it came from.
  ComPtr<IWICBitmapDecoder> decoder_;
  ComPtr<IWICBitmapFrameDecode> frame_;
};

class WicFactory final : public ImagingFactory {
 public:
  explicit WicFactory(ComPtr<IWICImagingFactory> factory) : factory_(std::move(factory)) {}

  std::unique_ptr<ImageFrame> openFirstFrame(const std::u16string& path) const override {
    // A file far larger than any image within the limit could need is
    // refused before the imaging component reads a byte of it.
    const std::optional<std::uint64_t> size = platform::queryFileSize(path);
    if (size && *size > kMaxImageFileBytes) return nullptr;
    try {
      // So is one whose headers declare more work than its image can need.
      if (headersExceedBounds(path)) return nullptr;
      return openFrame(path);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

 private:
  std::unique_ptr<ImageFrame> openFrame(const std::u16string& path) const {
    IWICBitmapDecoder* rawDecoder = nullptr;
    if (FAILED(factory_->CreateDecoderFromFilename(platform::win::systemPath(path).c_str(), nullptr,
                                                   GENERIC_READ, WICDecodeMetadataCacheOnLoad,
                                                   &rawDecoder)) ||
        rawDecoder == nullptr) {
      return nullptr;
    }
    ComPtr<IWICBitmapDecoder> decoder(rawDecoder);
    IWICBitmapFrameDecode* rawFrame = nullptr;
    if (FAILED(decoder->GetFrame(0, &rawFrame)) || rawFrame == nullptr) return nullptr;
    ComPtr<IWICBitmapFrameDecode> frame(rawFrame);
    auto result = std::unique_ptr<WicFrame>(
        new (std::nothrow) WicFrame(factory_.get(), path, std::move(decoder), std::move(frame)));
    if (!result || !result->readInfo()) return nullptr;
    return result;
  }

  ComPtr<IWICImagingFactory> factory_;
};

}  // namespace

// One factory serves every thread of the job at once. It is made on the
// job's thread, which joined the multithreaded apartment before the job, and
// every thread that opens images joins it too (initImagingRuntime); objects
// made there may be called by any number of its threads concurrently,
// without marshalling, and since Windows 7 the imaging component and all
// its in-box codecs are built for that. Each decoder and frame the factory
// gives stays with the one thread that opened it.
std::unique_ptr<ImagingFactory> createImagingFactory() {
  IWICImagingFactory* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&raw))) ||
      raw == nullptr) {
    return nullptr;
  }
  ComPtr<IWICImagingFactory> factory(raw);
  return std::unique_ptr<ImagingFactory>(new (std::nothrow) WicFactory(std::move(factory)));
}

// The imaging component is reached through COM, which must be set up on the
// calling thread; S_FALSE (already set up) counts as success.
bool initImagingRuntime() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void shutdownImagingRuntime() { CoUninitialize(); }

}  // namespace folio::codecs
