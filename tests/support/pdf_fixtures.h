#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio::test {

struct FilledRect {
  float x, y, width, height;  // PDF user space, origin bottom left
  std::uint8_t red, green, blue;
};

struct PageSpec {
  double width = 612;
  double height = 792;
  int rotation = 0;  // quarter turns clockwise
  std::vector<FilledRect> rects;
};

// A PDF document with these pages, made and saved with PDFium.
std::string makePdf(const std::vector<PageSpec>& pages);

struct PageInfo {
  double width;
  double height;
};

// Page sizes of a PDF, read back with PDFium; empty when it does not load.
std::vector<PageInfo> readPdfPages(const std::string& pdfBytes);

// A page rendered onto white at the given pixel size, as rows of
// blue, green, red bytes (stride width * 3).
std::vector<std::uint8_t> renderPdfPage(const std::string& pdfBytes, int pageIndex, int width,
                                        int height);

}  // namespace folio::test

namespace folio::test {

// A PDF whose pages are each covered by an image of random pixels, one image
// pixel per point: pages that no PNG encoder can shrink much. Sizes are in
// points; the same seed gives the same document.
std::string makeNoisePdf(const std::vector<PageInfo>& pageSizes, unsigned seed = 1);

}  // namespace folio::test
