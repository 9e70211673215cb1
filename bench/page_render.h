// Renders pages exactly as the worker does (2 pixels per point, onto white,
// blue-green-red rows, annotations and a limited image cache), so that the
// benchmark programs measure the same bitmaps the worker makes.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "pdfium/holders.h"

namespace folio::bench {

struct RenderedPage {
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
};

// Renders one page into page (its buffer is reused when it is large enough);
// false when the page does not load.
inline bool renderPage(FPDF_DOCUMENT document, int index, RenderedPage& page) {
  pdfium::ScopedPage handle(FPDF_LoadPage(document, index));
  if (!handle) return false;
  page.width = static_cast<int>(std::ceil(2.0 * FPDF_GetPageWidthF(handle.get())));
  page.height = static_cast<int>(std::ceil(2.0 * FPDF_GetPageHeightF(handle.get())));
  page.stride = (page.width * 3 + 3) & ~3;
  page.pixels.assign(static_cast<size_t>(page.stride) * page.height, 0xFF);
  pdfium::ScopedBitmap bitmap(FPDFBitmap_CreateEx(page.width, page.height, FPDFBitmap_BGR,
                                                  page.pixels.data(), page.stride));
  if (!bitmap) return false;
  FPDFBitmap_FillRect(bitmap.get(), 0, 0, page.width, page.height, 0xFFFFFFFF);
  FPDF_RenderPageBitmap(bitmap.get(), handle.get(), 0, 0, page.width, page.height, 0,
                        FPDF_ANNOT | FPDF_RENDER_LIMITEDIMAGECACHE);
  return true;
}

}  // namespace folio::bench
