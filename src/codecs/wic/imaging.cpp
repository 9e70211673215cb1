// The image codecs of the Windows Imaging Component: the platform picks the
// decoder by the file's content, reads the EXIF orientation through its
// metadata query and converts any stored pixel format to straight-alpha BGRA.
#include <windows.h>
#include <objbase.h>
#include <propidl.h>
#include <wincodec.h>

#include <new>
#include <utility>

#include "codecs/imaging.h"
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

class WicFrame final : public ImageFrame {
 public:
  WicFrame(IWICImagingFactory* factory, ComPtr<IWICBitmapDecoder> decoder,
           ComPtr<IWICBitmapFrameDecode> frame)
      : factory_(factory), decoder_(std::move(decoder)), frame_(std::move(frame)) {}

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
    return true;
  }

  bool copyPixels(std::uint8_t* bgra, std::size_t size) override {
    if (size != std::size_t{info_.width} * 4 * info_.height || size > UINT_MAX) return false;
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
    return SUCCEEDED(converter->CopyPixels(nullptr, info_.width * 4, static_cast<UINT>(size),
                                           bgra));
  }

 private:
  IWICImagingFactory* factory_;  // the job's, borrowed
  // Declared in the order of acquisition, so that the frame goes before the
  // decoder it came from.
  ComPtr<IWICBitmapDecoder> decoder_;
  ComPtr<IWICBitmapFrameDecode> frame_;
};

class WicFactory final : public ImagingFactory {
 public:
  explicit WicFactory(ComPtr<IWICImagingFactory> factory) : factory_(std::move(factory)) {}

  std::unique_ptr<ImageFrame> openFirstFrame(const std::u16string& path) const override {
    IWICBitmapDecoder* rawDecoder = nullptr;
    if (FAILED(factory_->CreateDecoderFromFilename(platform::win::widePath(path), nullptr,
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
        new (std::nothrow) WicFrame(factory_.get(), std::move(decoder), std::move(frame)));
    if (!result || !result->readInfo()) return nullptr;
    return result;
  }

 private:
  ComPtr<IWICImagingFactory> factory_;
};

}  // namespace

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
