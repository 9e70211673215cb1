#include "support/pdf_fixtures.h"

#include <cstring>
#include <random>
#include <stdexcept>

#include "pdfium/holders.h"

namespace folio::test {
namespace {

struct MemoryWriter {
  FPDF_FILEWRITE header;
  std::string* bytes;
};

int appendBlock(FPDF_FILEWRITE* self, const void* data, unsigned long size) {
  auto* writer = reinterpret_cast<MemoryWriter*>(self);
  writer->bytes->append(static_cast<const char*>(data), size);
  return 1;
}

pdfium::ScopedDocument load(const std::string& bytes) {
  return pdfium::ScopedDocument(FPDF_LoadMemDocument64(bytes.data(), bytes.size(), nullptr));
}

std::string save(FPDF_DOCUMENT document) {
  std::string bytes;
  MemoryWriter writer{{1, appendBlock}, &bytes};
  if (!FPDF_SaveAsCopy(document, &writer.header, FPDF_NO_INCREMENTAL)) {
    throw std::runtime_error("FPDF_SaveAsCopy failed");
  }
  return bytes;
}

}  // namespace

std::string makePdf(const std::vector<PageSpec>& pages) {
  pdfium::LibraryScope library;
  pdfium::ScopedDocument document(FPDF_CreateNewDocument());
  if (!document) throw std::runtime_error("FPDF_CreateNewDocument failed");
  for (size_t i = 0; i < pages.size(); ++i) {
    const PageSpec& spec = pages[i];
    pdfium::ScopedPage page(
        FPDFPage_New(document.get(), static_cast<int>(i), spec.width, spec.height));
    if (!page) throw std::runtime_error("FPDFPage_New failed");
    for (const FilledRect& r : spec.rects) {
      FPDF_PAGEOBJECT rect = FPDFPageObj_CreateNewRect(r.x, r.y, r.width, r.height);
      FPDFPageObj_SetFillColor(rect, r.red, r.green, r.blue, 255);
      FPDFPath_SetDrawMode(rect, FPDF_FILLMODE_WINDING, 0);
      FPDFPage_InsertObject(page.get(), rect);
    }
    if (spec.rotation != 0) FPDFPage_SetRotation(page.get(), spec.rotation);
    if (!FPDFPage_GenerateContent(page.get())) throw std::runtime_error("GenerateContent failed");
  }
  return save(document.get());
}

std::vector<PageInfo> readPdfPages(const std::string& pdfBytes) {
  pdfium::LibraryScope library;
  std::vector<PageInfo> result;
  auto document = load(pdfBytes);
  if (!document) return result;
  const int count = FPDF_GetPageCount(document.get());
  for (int i = 0; i < count; ++i) {
    pdfium::ScopedPage page(FPDF_LoadPage(document.get(), i));
    if (!page) throw std::runtime_error("FPDF_LoadPage failed");
    result.push_back({FPDF_GetPageWidthF(page.get()), FPDF_GetPageHeightF(page.get())});
  }
  return result;
}

std::vector<std::uint8_t> renderPdfPage(const std::string& pdfBytes, int pageIndex, int width,
                                        int height) {
  pdfium::LibraryScope library;
  auto document = load(pdfBytes);
  if (!document) throw std::runtime_error("document does not load");
  pdfium::ScopedPage page(FPDF_LoadPage(document.get(), pageIndex));
  if (!page) throw std::runtime_error("page does not load");
  std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * 3 * height, 0xFF);
  pdfium::ScopedBitmap bitmap(
      FPDFBitmap_CreateEx(width, height, FPDFBitmap_BGR, pixels.data(), width * 3));
  if (!bitmap) throw std::runtime_error("bitmap not created");
  FPDFBitmap_FillRect(bitmap.get(), 0, 0, width, height, 0xFFFFFFFF);
  FPDF_RenderPageBitmap(bitmap.get(), page.get(), 0, 0, width, height, 0, FPDF_ANNOT);
  return pixels;
}

std::string makeNoisePdf(const std::vector<PageInfo>& pageSizes, unsigned seed) {
  pdfium::LibraryScope library;
  pdfium::ScopedDocument document(FPDF_CreateNewDocument());
  if (!document) throw std::runtime_error("FPDF_CreateNewDocument failed");
  std::mt19937 random(seed);
  for (size_t i = 0; i < pageSizes.size(); ++i) {
    const PageInfo& size = pageSizes[i];
    pdfium::ScopedPage page(
        FPDFPage_New(document.get(), static_cast<int>(i), size.width, size.height));
    if (!page) throw std::runtime_error("FPDFPage_New failed");
    const int w = static_cast<int>(size.width), h = static_cast<int>(size.height);
    std::vector<std::uint8_t> pixels(static_cast<size_t>(w) * 3 * h);
    for (auto& p : pixels) p = static_cast<std::uint8_t>(random());
    pdfium::ScopedBitmap bitmap(FPDFBitmap_CreateEx(w, h, FPDFBitmap_BGR, pixels.data(), w * 3));
    pdfium::ScopedPageObject image(FPDFPageObj_NewImageObj(document.get()));
    FPDF_PAGE pages[] = {page.get()};
    if (!bitmap || !image || !FPDFImageObj_SetBitmap(pages, 1, image.get(), bitmap.get()) ||
        !FPDFImageObj_SetMatrix(image.get(), size.width, 0, 0, size.height, 0, 0)) {
      throw std::runtime_error("noise image not made");
    }
    FPDFPage_InsertObject(page.get(), image.release());
    if (!FPDFPage_GenerateContent(page.get())) throw std::runtime_error("GenerateContent failed");
  }
  return save(document.get());
}

}  // namespace folio::test
