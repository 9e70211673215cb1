// The PNG encoder of the Windows Imaging Component, writing through a stream
// of our own that hands every byte on as the encoder produces it.
#include "codecs/png_encoder.h"

#include <objidl.h>
#include <wincodec.h>
#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <exception>

#include "platform/win_support.h"

namespace folio::codecs {
namespace {

using platform::win::ComPtr;

// A write-only, forward-only stream over a PngSink. It lives on the stack of
// one encoding; the encoder only ever holds it for that long. It remembers
// why a write failed, because an encoder may pass on its own status instead
// of the stream's. What the sink throws is kept too, never let through the
// imaging component's frames (no exception may cross them: the process
// would end at once), and thrown again once the encoder is gone.
class SinkStream final : public IStream {
 public:
  explicit SinkStream(const PngSink& sink) : sink_(sink) {}
  virtual ~SinkStream() = default;

  IoStatus failure() const { return failure_; }
  std::exception_ptr thrown() const { return thrown_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG* read) override {
    if (read) *read = 0;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (failure_ != IoStatus::ok) return E_FAIL;
    if (size == 0) return S_OK;
    try {
      failure_ = sink_(static_cast<const std::uint8_t*>(data), size);
    } catch (...) {
      thrown_ = std::current_exception();
      failure_ = IoStatus::other;
      return E_FAIL;
    }
    if (failure_ == IoStatus::diskFull) return STG_E_MEDIUMFULL;
    if (failure_ != IoStatus::ok) return STG_E_WRITEFAULT;
    position_ += size;
    if (written) *written = size;
    return S_OK;
  }
  // Only where the stream already is can be asked for or sought to.
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                 ULARGE_INTEGER* newPosition) override {
    const bool here =
        (origin == STREAM_SEEK_CUR && move.QuadPart == 0) ||
        (origin == STREAM_SEEK_SET && static_cast<ULONGLONG>(move.QuadPart) == position_) ||
        (origin == STREAM_SEEK_END && move.QuadPart == 0);
    if (!here) return STG_E_INVALIDFUNCTION;
    if (newPosition) newPosition->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return E_POINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = position_;
    stat->grfMode = STGM_WRITE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  const PngSink& sink_;
  std::atomic<ULONG> references_{1};
  ULONGLONG position_ = 0;
  IoStatus failure_ = IoStatus::ok;
  std::exception_ptr thrown_;
};

// The encoding proper, each step only when the one before succeeded; every
// object is given back when its holder goes, in the reverse order.
HRESULT encodeFrame(IStream* target, const BgrImage& image) {
  IWICImagingFactory* rawFactory = nullptr;
  HRESULT status = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWICImagingFactory, reinterpret_cast<void**>(&rawFactory));
  if (FAILED(status)) return status;
  const ComPtr<IWICImagingFactory> factory(rawFactory);

  IWICStream* rawStream = nullptr;
  if (FAILED(status = factory->CreateStream(&rawStream))) return status;
  const ComPtr<IWICStream> stream(rawStream);
  if (FAILED(status = stream->InitializeFromIStream(target))) return status;

  IWICBitmapEncoder* rawEncoder = nullptr;
  if (FAILED(status = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &rawEncoder))) {
    return status;
  }
  const ComPtr<IWICBitmapEncoder> encoder(rawEncoder);
  if (FAILED(status = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache))) return status;

  IWICBitmapFrameEncode* rawFrame = nullptr;
  IPropertyBag2* rawOptions = nullptr;
  if (FAILED(status = encoder->CreateNewFrame(&rawFrame, &rawOptions))) return status;
  const ComPtr<IWICBitmapFrameEncode> frame(rawFrame);
  const ComPtr<IPropertyBag2> options(rawOptions);

  // Rows in order, as every reader of the deflated data takes them (a page
  // document's image keeps them as they are): never interlaced, which is the
  // encoder's default, asked for all the same.
  PROPBAG2 interlace{};
  interlace.pstrName = const_cast<LPOLESTR>(L"InterlaceOption");
  VARIANT no{};
  no.vt = VT_BOOL;
  no.boolVal = VARIANT_FALSE;
  if (FAILED(status = options->Write(1, &interlace, &no))) return status;
  if (FAILED(status = frame->Initialize(options.get()))) return status;
  if (FAILED(status = frame->SetSize(image.width, image.height))) return status;
  if (FAILED(status = frame->SetResolution(144.0, 144.0))) return status;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(status = frame->SetPixelFormat(&format))) return status;
  // The encoder may offer a format near the one asked for; the rows we hand
  // it are in this one alone.
  if (std::memcmp(&format, &GUID_WICPixelFormat24bppBGR, sizeof format) != 0) {
    return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  }
  const UINT bytes = image.height * image.stride;
  if (FAILED(status = frame->WritePixels(image.height, image.stride, bytes,
                                         const_cast<BYTE*>(image.pixels)))) {
    return status;
  }
  if (FAILED(status = frame->Commit())) return status;
  return encoder->Commit();
}

}  // namespace

// No encoder option is set: filtering and compression are the encoder's.
IoStatus encodePng(const BgrImage& image, const PngSink& sink, const PngSettings&) {
  if (!image.pixels || image.width == 0 || image.height == 0 || image.stride / 3 < image.width ||
      std::uint64_t{image.height} * image.stride > UINT_MAX) {
    return IoStatus::other;
  }
  SinkStream stream(sink);
  const HRESULT status = encodeFrame(&stream, image);
  if (stream.thrown()) std::rethrow_exception(stream.thrown());
  if (SUCCEEDED(status)) return IoStatus::ok;
  if (stream.failure() != IoStatus::ok) return stream.failure();
  return platform::win::statusOfResult(status);
}

}  // namespace folio::codecs
