#include "support/pdf_fixtures.h"

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
  reinterpret_cast<MemoryWriter*>(self)->bytes->append(static_cast<const char*>(data), size);
  return 1;
}

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

pdfium::ScopedDocument load(const std::string& bytes) {
  return pdfium::ScopedDocument(FPDF_LoadMemDocument64(bytes.data(), bytes.size(), nullptr));
}

void addNoise(FPDF_DOCUMENT document, FPDF_PAGE page, const PageSpec& spec) {
  std::mt19937 random(spec.noiseSeed);
  const int w = static_cast<int>(spec.width), h = static_cast<int>(spec.height);
  std::vector<std::uint8_t> pixels(static_cast<size_t>(w) * 3 * h);
  for (auto& p : pixels) p = static_cast<std::uint8_t>(random());
  pdfium::ScopedBitmap bitmap(FPDFBitmap_CreateEx(w, h, FPDFBitmap_BGR, pixels.data(), w * 3));
  pdfium::ScopedPageObject image(FPDFPageObj_NewImageObj(document));
  check(bitmap && image && FPDFImageObj_SetBitmap(&page, 1, image.get(), bitmap.get()) &&
            FPDFImageObj_SetMatrix(image.get(), spec.width, 0, 0, spec.height, 0, 0),
        "noise image not made");
  FPDFPage_InsertObject(page, image.release());
}

}  // namespace

std::string makePdf(const std::vector<PageSpec>& pages) {
  pdfium::LibraryScope library;
  pdfium::ScopedDocument document(FPDF_CreateNewDocument());
  check(document != nullptr, "FPDF_CreateNewDocument failed");
  for (size_t i = 0; i < pages.size(); ++i) {
    const PageSpec& spec = pages[i];
    pdfium::ScopedPage page(
        FPDFPage_New(document.get(), static_cast<int>(i), spec.width, spec.height));
    check(page != nullptr, "FPDFPage_New failed");
    if (spec.noiseSeed != 0) addNoise(document.get(), page.get(), spec);
    for (const FilledRect& r : spec.rects) {
      FPDF_PAGEOBJECT rect = FPDFPageObj_CreateNewRect(r.x, r.y, r.width, r.height);
      FPDFPageObj_SetFillColor(rect, r.red, r.green, r.blue, 255);
      FPDFPath_SetDrawMode(rect, FPDF_FILLMODE_WINDING, 0);
      FPDFPage_InsertObject(page.get(), rect);
    }
    if (spec.rotation != 0) FPDFPage_SetRotation(page.get(), spec.rotation);
    check(FPDFPage_GenerateContent(page.get()), "FPDFPage_GenerateContent failed");
  }
  std::string bytes;
  MemoryWriter writer{{1, appendBlock}, &bytes};
  check(FPDF_SaveAsCopy(document.get(), &writer.header, FPDF_NO_INCREMENTAL), "save failed");
  return bytes;
}

std::vector<PageInfo> readPdfPages(const std::string& pdfBytes) {
  pdfium::LibraryScope library;
  std::vector<PageInfo> result;
  auto document = load(pdfBytes);
  for (int i = 0; document && i < FPDF_GetPageCount(document.get()); ++i) {
    pdfium::ScopedPage page(FPDF_LoadPage(document.get(), i));
    check(page != nullptr, "FPDF_LoadPage failed");
    result.push_back({FPDF_GetPageWidthF(page.get()), FPDF_GetPageHeightF(page.get())});
  }
  return result;
}

std::vector<std::uint8_t> renderPdfPage(const std::string& pdfBytes, int pageIndex, int width,
                                        int height) {
  pdfium::LibraryScope library;
  auto document = load(pdfBytes);
  check(document != nullptr, "document does not load");
  pdfium::ScopedPage page(FPDF_LoadPage(document.get(), pageIndex));
  check(page != nullptr, "page does not load");
  std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * 3 * height, 0xFF);
  pdfium::ScopedBitmap bitmap(
      FPDFBitmap_CreateEx(width, height, FPDFBitmap_BGR, pixels.data(), width * 3));
  check(bitmap != nullptr, "bitmap not created");
  FPDF_RenderPageBitmap(bitmap.get(), page.get(), 0, 0, width, height, 0, FPDF_ANNOT);
  return pixels;
}

}  // namespace folio::test
