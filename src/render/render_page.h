// One page of a PDF rendered as the worker renders it: at 2 pixels per point,
// onto opaque white, in rows of blue, green, red bytes. The job and the
// benchmark programs render through these same steps.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "pdfium/holders.h"
#include "protocol/job_result.h"
#include "render/page_geometry.h"

namespace folio::render {

// The pixels of a page, kept from one page to the next: the pages of a
// document are mostly of one size, and memory fresh from the system costs a
// page fault for every 4 KiB written. Nothing is kept beyond kKeptBytes, so
// that one huge page does not hold its memory for the rest of the job.
class PageBuffer {
 public:
  static constexpr std::uint64_t kKeptBytes = std::uint64_t{64} << 20;

  // Room for bytes; null when the memory cannot be had. The content is
  // whatever was there.
  std::uint8_t* reserve(std::uint64_t bytes);
  std::uint8_t* data() const { return data_.get(); }
  // Gives the memory back if it is more than is kept.
  void trim();
  // Gives the memory back.
  void release();

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::uint64_t capacity_ = 0;
};

// A loaded page and the size of its bitmap.
struct LoadedPage {
  pdfium::ScopedPage handle;
  PageBitmapSize size{};
};

// Loads page index of document and measures its bitmap. An empty optional
// means page holds it; otherwise RENDER_FAILED (the page does not load) or
// PAGE_TOO_LARGE (no size, a bad rotation, beyond the pixel limit).
std::optional<protocol::JobResult> loadPage(FPDF_DOCUMENT document, std::int32_t index,
                                            LoadedPage& page);

// Renders the loaded page into buffer. An empty optional means buffer holds
// the page's pixels (page.size gives their shape); otherwise PAGE_TOO_LARGE
// (no memory for them) or RENDER_FAILED (PDFium made no bitmap over them).
std::optional<protocol::JobResult> renderPage(const LoadedPage& page, PageBuffer& buffer);

}  // namespace folio::render
