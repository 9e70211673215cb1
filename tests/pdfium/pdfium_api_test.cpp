// Our own PDFium declarations against the real library: a document made,
// saved through the writer record, loaded back and rendered must come out
// exactly as built. A wrong signature or record layout breaks this round trip.
#include <gtest/gtest.h>

#include "pdfium/holders.h"
#include "support/pdf_fixtures.h"

namespace folio::test {
namespace {

TEST(PdfiumApi, DocumentRoundTripsThroughFileWrite) {
  PageSpec page{300, 200, 0, {{0, 100, 150, 100, 255, 0, 0}}};  // red, top left quarter
  PageSpec second{595.5, 842.25, 1, {}};
  const std::string bytes = makePdf({page, second});
  ASSERT_EQ(bytes.rfind("%PDF-", 0), 0u);

  const auto pages = readPdfPages(bytes);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_FLOAT_EQ(pages[0].width, 300);
  EXPECT_FLOAT_EQ(pages[0].height, 200);
  EXPECT_FLOAT_EQ(pages[1].width, 842.25);  // rotated a quarter: sizes as displayed
  EXPECT_FLOAT_EQ(pages[1].height, 595.5);

  const auto pixels = renderPdfPage(bytes, 0, 300, 200);
  const auto at = [&](int x, int y) { return &pixels[(y * 300 + x) * 3]; };
  EXPECT_EQ(at(10, 10)[0], 0);      // blue of red
  EXPECT_EQ(at(10, 10)[2], 255);    // red of red
  EXPECT_EQ(at(290, 190)[0], 255);  // white elsewhere
  EXPECT_EQ(at(290, 190)[1], 255);
}

TEST(PdfiumApi, LoadErrorsAreReported) {
  pdfium::LibraryScope library;
  const std::string garbage = "this is not a PDF at all";
  pdfium::ScopedDocument document(
      FPDF_LoadMemDocument64(garbage.data(), garbage.size(), nullptr));
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(FPDF_GetLastError(), static_cast<unsigned long>(FPDF_ERR_FORMAT));
}

TEST(PdfiumApi, BitmapOverCallerBufferWritesThatBuffer) {
  pdfium::LibraryScope library;
  std::vector<unsigned char> buffer(8 * 3, 0);  // 2 x 3 pixels, stride 8
  pdfium::ScopedBitmap bitmap(FPDFBitmap_CreateEx(2, 3, FPDFBitmap_BGR, buffer.data(), 8));
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(FPDFBitmap_GetBuffer(bitmap.get()), buffer.data());
  EXPECT_EQ(FPDFBitmap_GetStride(bitmap.get()), 8);
  FPDFBitmap_FillRect(bitmap.get(), 0, 0, 2, 3, 0xFF102030);
  EXPECT_EQ(buffer[0], 0x30);  // blue
  EXPECT_EQ(buffer[1], 0x20);  // green
  EXPECT_EQ(buffer[2], 0x10);  // red
  EXPECT_EQ(buffer[6], 0);     // row padding untouched
}

}  // namespace
}  // namespace folio::test
