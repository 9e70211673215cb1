// Two documents page by page, as a reader sees them: each page rendered by
// PDFium onto white with its longer side LONG_SIDE pixels (the image's own
// pixels for a page made from an image of that size). Prints the pages, the
// largest difference of page size in points and the largest difference of
// any colour channel.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pdfium/holders.h"

namespace {

using folio::pdfium::ScopedBitmap;
using folio::pdfium::ScopedDocument;
using folio::pdfium::ScopedPage;

std::vector<unsigned char> render(FPDF_PAGE page, int width, int height) {
  std::vector<unsigned char> pixels(std::size_t(width) * 3 * height);
  ScopedBitmap bitmap(
      FPDFBitmap_CreateEx(width, height, FPDFBitmap_BGR, pixels.data(), width * 3));
  FPDFBitmap_FillRect(bitmap.get(), 0, 0, width, height, 0xFFFFFFFF);
  FPDF_RenderPageBitmap(bitmap.get(), page, 0, 0, width, height, 0, FPDF_ANNOT);
  return pixels;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: page_diff A.pdf B.pdf LONG_SIDE\n");
    return 2;
  }
  const int longSide = std::atoi(argv[3]);
  folio::pdfium::LibraryScope library;
  ScopedDocument a(FPDF_LoadDocument(argv[1], nullptr));
  ScopedDocument b(FPDF_LoadDocument(argv[2], nullptr));
  if (!a || !b || FPDF_GetPageCount(a.get()) != FPDF_GetPageCount(b.get())) {
    std::printf("pages differ\n");
    return 1;
  }
  const int count = FPDF_GetPageCount(a.get());
  double sizeDiff = 0;
  int channelDiff = 0;
  for (int i = 0; i < count; ++i) {
    ScopedPage pa(FPDF_LoadPage(a.get(), i));
    ScopedPage pb(FPDF_LoadPage(b.get(), i));
    const double w = FPDF_GetPageWidthF(pa.get()), h = FPDF_GetPageHeightF(pa.get());
    sizeDiff = std::max({sizeDiff, std::fabs(w - FPDF_GetPageWidthF(pb.get())),
                         std::fabs(h - FPDF_GetPageHeightF(pb.get()))});
    const double scale = longSide / std::max(w, h);
    const int pw = static_cast<int>(std::lround(w * scale));
    const int ph = static_cast<int>(std::lround(h * scale));
    const auto ra = render(pa.get(), pw, ph);
    const auto rb = render(pb.get(), pw, ph);
    for (std::size_t k = 0; k < ra.size(); ++k) {
      channelDiff = std::max(channelDiff, std::abs(ra[k] - rb[k]));
    }
  }
  std::printf("%d %.4f %d\n", count, sizeDiff, channelDiff);
  return 0;
}
