#include "render/convert_pdf_to_images.h"

#include <optional>
#include <vector>

#include "pdfium/holders.h"
#include "platform/files.h"
#include "platform/native_path.h"
#include "platform/native_path.h"
#include "protocol/text_encoding.h"
#include "render/page_file_name.h"
#include "render/page_geometry.h"
#include "render/png_writer.h"

namespace folio::render {
namespace {

using protocol::JobResult;
using protocol::makeErrorResult;
namespace results = protocol::results;

// Annotations are drawn, and PDFium keeps only a small image cache, so that
// memory stays flat across a long document.
constexpr int kRenderFlags = FPDF_ANNOT | FPDF_RENDER_LIMITEDIMAGECACHE;

constexpr FPDF_DWORD kOpaqueWhite = 0xFFFFFFFF;

JobResult loadFailure(unsigned long error) {
  switch (error) {
    case FPDF_ERR_FORMAT:
      return makeErrorResult(results::pdfDamaged);
    case FPDF_ERR_PASSWORD:
      return makeErrorResult(results::passwordRequired);
    case FPDF_ERR_SECURITY:
      return makeErrorResult(results::securityUnsupported);
    default:
      return makeErrorResult(results::cannotRead);
  }
}

void report(const protocol::ProgressCallback& progress, std::int32_t current, std::int32_t total,
            const std::string& name) {
  if (progress) progress(current, total, name);
}

// Renders page index of document and writes it into outputDirectory. An
// empty optional means the page is done.
std::optional<JobResult> convertPage(FPDF_DOCUMENT document, std::int32_t index,
                                     std::int32_t pageCount,
                                     const std::u16string& outputDirectory,
                                     const protocol::ProgressCallback& progress) {
  pdfium::ScopedPage page(FPDF_LoadPage(document, index));
  if (!page) return makeErrorResult(results::renderFailed);

  const double width = FPDF_GetPageWidthF(page.get());
  const double height = FPDF_GetPageHeightF(page.get());
  const std::int32_t rotation = FPDFPage_GetRotation(page.get());
  if (!isRenderablePage(width, height, rotation)) return makeErrorResult(results::pageTooLarge);
  const std::optional<PageBitmapSize> size = pageBitmapSize(width, height);
  if (!size) return makeErrorResult(results::pageTooLarge);

  std::vector<std::uint8_t> pixels;
  try {
    pixels.assign(size->bytes, 0xFF);
  } catch (...) {
    return makeErrorResult(results::pageTooLarge);
  }
  // Declared after the pixels, so that it is destroyed before them.
  pdfium::ScopedBitmap bitmap(
      FPDFBitmap_CreateEx(size->width, size->height, FPDFBitmap_BGR, pixels.data(), size->stride));
  if (!bitmap) return makeErrorResult(results::renderFailed);
  FPDFBitmap_FillRect(bitmap.get(), 0, 0, size->width, size->height, kOpaqueWhite);
  // The page's own rotation is already part of how PDFium lays the page out
  // (its reported width and height are those of the turned page), so no
  // further turn is asked for: a second one would turn the page twice and
  // squeeze it into the wrong shape.
  FPDF_RenderPageBitmap(bitmap.get(), page.get(), 0, 0, size->width, size->height, 0,
                        kRenderFlags);

  const std::int32_t pageNumber = index + 1;
  const std::string fileName = makePageFileName(pageNumber, pageCount);
  std::u16string wideName;
  try {
    wideName = protocol::utf8ToWide(fileName);
  } catch (...) {
    return makeErrorResult(results::cannotWritePage);
  }
  const std::u16string outputPath = platform::joinPath(outputDirectory, wideName);
  const platform::IoStatus written = writePngFile(outputPath, pixels.data(),
                                                  static_cast<std::uint32_t>(size->width),
                                                  static_cast<std::uint32_t>(size->height),
                                                  static_cast<std::uint32_t>(size->stride));
  if (written == platform::IoStatus::diskFull) return makeErrorResult(results::diskFullPage);
  if (written != platform::IoStatus::ok) return makeErrorResult(results::cannotWritePage);

  report(progress, pageNumber, pageCount, fileName);
  return std::nullopt;
}

}  // namespace

JobResult convertPdfToImages(const std::u16string& pdfPath, const std::u16string& outputDirectory,
                             const protocol::ProgressCallback& progress) {
  pdfium::LibraryScope library;

  // PDFium opens the file by a narrow path that names the very file the
  // system's own calls would open, so every file we can open, PDFium can too.
  const std::optional<std::string> nativePdfPath = platform::libraryPath(pdfPath);
  if (!nativePdfPath) return makeErrorResult(results::cannotRead);
  // A pipe or a device bearing a PDF's name would keep PDFium waiting for
  // bytes that may never come; only a regular file we can read goes to it.
  if (!platform::openForReading(pdfPath).isOpen()) return makeErrorResult(results::cannotRead);

  pdfium::ScopedDocument document(FPDF_LoadDocument(nativePdfPath->c_str(), nullptr));
  if (!document) return loadFailure(FPDF_GetLastError());

  const std::int32_t pageCount = FPDF_GetPageCount(document.get());
  if (pageCount < 1) return makeErrorResult(results::pdfDamaged);

  report(progress, 0, pageCount, std::string());
  for (std::int32_t index = 0; index < pageCount; ++index) {
    if (auto failure = convertPage(document.get(), index, pageCount, outputDirectory, progress)) {
      return *failure;
    }
  }
  return protocol::makeSuccessResult(pageCount);
}

}  // namespace folio::render
