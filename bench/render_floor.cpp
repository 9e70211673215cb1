// The floor of the worker's design: PDFium renders every page into the same
// bitmap the worker makes, and nothing is written. Prints milliseconds per
// page.
#include <chrono>
#include <cstdio>

#include "page_render.h"

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
  for (int i = 0; i < count; ++i) {
    folio::bench::RenderedPage page;  // a fresh buffer per page, as the worker has
    if (!folio::bench::renderPage(document.get(), i, page)) return 1;
  }
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%.2f\n", elapsed.count() / (count > 0 ? count : 1));
  return 0;
}
