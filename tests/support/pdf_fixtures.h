// The one PDF fixture builder: documents made and saved with PDFium, and read
// back with it.
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
  std::vector<FilledRect> rects = {};
  // When not 0, the page is covered by an image of random pixels from this
  // seed, one per point: a page no PNG encoder can shrink much.
  unsigned noiseSeed = 0;
};

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
