#include "render/render_page.h"

#include <cstring>
#include <new>

namespace folio::render {
namespace {

using protocol::makeErrorResult;
namespace results = protocol::results;

// Annotations are drawn, and PDFium keeps only a small image cache, so that
// memory stays flat across a long document.
constexpr int kRenderFlags = FPDF_ANNOT | FPDF_RENDER_LIMITEDIMAGECACHE;

}  // namespace

std::uint8_t* PageBuffer::reserve(std::uint64_t bytes) {
  if (bytes > capacity_) {
    data_.reset();
    capacity_ = 0;
    if (bytes > SIZE_MAX) return nullptr;
    // Not cleared: the page is painted white before it is drawn.
    data_.reset(new (std::nothrow) std::uint8_t[static_cast<size_t>(bytes)]);
    if (!data_) return nullptr;
    capacity_ = bytes;
  }
  return data_.get();
}

void PageBuffer::trim() {
  if (capacity_ > kKeptBytes) release();
}

void PageBuffer::release() {
  data_.reset();
  capacity_ = 0;
}

std::optional<protocol::JobResult> loadPage(FPDF_DOCUMENT document, std::int32_t index,
                                            LoadedPage& page) {
  page.handle.reset(FPDF_LoadPage(document, index));
  if (!page.handle) return makeErrorResult(results::renderFailed);
  const double width = FPDF_GetPageWidthF(page.handle.get());
  const double height = FPDF_GetPageHeightF(page.handle.get());
  const std::int32_t rotation = FPDFPage_GetRotation(page.handle.get());
  if (!isRenderablePage(width, height, rotation)) return makeErrorResult(results::pageTooLarge);
  const std::optional<PageBitmapSize> size = pageBitmapSize(width, height);
  if (!size) return makeErrorResult(results::pageTooLarge);
  page.size = *size;
  return std::nullopt;
}

std::optional<protocol::JobResult> renderPage(const LoadedPage& page, PageBuffer& buffer) {
  const PageBitmapSize& size = page.size;
  std::uint8_t* pixels = buffer.reserve(size.bytes);
  if (!pixels) return makeErrorResult(results::pageTooLarge);
  // The one pass that makes the page white (the buffer may hold the page
  // before): every byte 0xFF is white in blue, green, red. Filling the
  // memory directly costs a fraction of FPDFBitmap_FillRect, which paints a
  // 24-bit bitmap pixel by pixel (an eighth of the job's time on text pages,
  // measured with perf).
  std::memset(pixels, 0xFF, static_cast<size_t>(size.bytes));
  pdfium::ScopedBitmap bitmap(
      FPDFBitmap_CreateEx(size.width, size.height, FPDFBitmap_BGR, pixels, size.stride));
  if (!bitmap) return makeErrorResult(results::renderFailed);
  // The page's own rotation is already part of how PDFium lays the page out
  // (its reported width and height are those of the turned page), so no
  // further turn is asked for: a second one would turn the page twice and
  // squeeze it into the wrong shape.
  FPDF_RenderPageBitmap(bitmap.get(), page.handle.get(), 0, 0, size.width, size.height, 0,
                        kRenderFlags);
  return std::nullopt;
}

}  // namespace folio::render
