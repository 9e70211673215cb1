// The floor of the worker's design: PDFium renders every page into the same
// bitmap the worker makes, through the worker's own steps, and nothing is
// written. Prints milliseconds per page, and the largest page's pixel bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "render/render_page.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: render_floor DOCUMENT.pdf\n");
    return 2;
  }
  folio::pdfium::LibraryScope library;
  const auto start = std::chrono::steady_clock::now();
  folio::pdfium::ScopedDocument document(FPDF_LoadDocument(argv[1], nullptr));
  if (!document) return 1;
  const int count = FPDF_GetPageCount(document.get());
  folio::render::PageBuffer buffer;  // kept from page to page, as the worker keeps its own
  std::uint64_t largest = 0;
  for (int i = 0; i < count; ++i) {
    folio::render::LoadedPage page;
    if (folio::render::loadPage(document.get(), i, page)) return 1;
    largest = std::max(largest, page.size.bytes);
    if (folio::render::renderPage(page, buffer)) return 1;
    buffer.trim();
  }
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%.2f %llu\n", elapsed.count() / (count > 0 ? count : 1),
              static_cast<unsigned long long>(largest));
  return 0;
}
