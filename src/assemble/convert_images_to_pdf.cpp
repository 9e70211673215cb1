#include "assemble/convert_images_to_pdf.h"

#include <cmath>

#include "assemble/decode_image.h"
#include "assemble/display_name.h"
#include "assemble/save_pdf_to_file.h"
#include "pdfium/holders.h"
#include "codecs/imaging.h"

namespace folio::assemble {
namespace {

namespace results = protocol::results;
using protocol::JobResult;
using protocol::makeErrorResult;

// Pages larger than 200 inches on a side are refused.
constexpr double kMaxPageSide = 14400.0;

bool pageSideAcceptable(double side) {
  return std::isfinite(side) && side > 0.0 && side <= kMaxPageSide;
}

// Builds page index of the document from one image: true once the page is
// complete and reported, false with the failure that ends the job.
bool buildPage(FPDF_DOCUMENT document, codecs::ImagingFactory* factory,
               const std::vector<std::u16string>& images, int index,
               const protocol::ProgressCallback& progress, JobResult* failure) {
  DecodedImage image;
  if (!decodeImage(factory, images[index], &image)) {
    *failure = makeErrorResult(results::imageReadFailed);
    return false;
  }

  const double pageWidth = static_cast<double>(image.width) * 72.0 / image.dpiX;
  const double pageHeight = static_cast<double>(image.height) * 72.0 / image.dpiY;
  if (!pageSideAcceptable(pageWidth) || !pageSideAcceptable(pageHeight)) {
    *failure = makeErrorResult(results::imageTooLarge);
    return false;
  }

  // The page is built in a one-page document of its own, then moved into
  // the job's document. PDFium walks the whole document every time it
  // generates a page's content, so pages built in place made a list cost the
  // square of its length (2000 images took a minute); built apart, every page
  // costs the same however many came first.
  pdfium::ScopedDocument pageDocument(FPDF_CreateNewDocument());
  if (!pageDocument) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }
  pdfium::ScopedPage page(FPDFPage_New(pageDocument.get(), 0, pageWidth, pageHeight));
  if (!page) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }
  pdfium::ScopedPageObject imageObject(FPDFPageObj_NewImageObj(pageDocument.get()));
  if (!imageObject) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }
  // A view of the decoded rows: no pixel is copied here.
  pdfium::ScopedBitmap bitmap(FPDFBitmap_CreateEx(static_cast<int>(image.width),
                                                  static_cast<int>(image.height), FPDFBitmap_BGR,
                                                  image.pixels.data(),
                                                  static_cast<int>(image.stride)));
  if (!bitmap) {
    *failure = makeErrorResult(results::imageBitmapTooLarge);
    return false;
  }
  if (!FPDFImageObj_SetBitmap(nullptr, 0, imageObject.get(), bitmap.get()) ||
      !FPDFImageObj_SetMatrix(imageObject.get(), pageWidth, 0, 0, pageHeight, 0, 0)) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }
  // From here the page owns the image object.
  FPDFPage_InsertObject(page.get(), imageObject.release());
  if (!FPDFPage_GenerateContent(page.get())) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }
  bitmap.reset();
  page.reset();
  const int onlyPage = 0;
  if (!FPDF_ImportPagesByIndex(document, pageDocument.get(), &onlyPage, 1, index)) {
    *failure = makeErrorResult(results::pdfCreateFailed);
    return false;
  }

  if (progress) {
    const int total = static_cast<int>(images.size());
    progress(index + 1, total, displayNameOf(images[index]));
  }
  return true;
}

}  // namespace

JobResult convertImagesToPdf(const std::vector<std::u16string>& images,
                             const std::u16string& outputPath,
                             const protocol::ProgressCallback& progress) {
  if (images.empty()) return makeErrorResult(results::imageReadFailed);
  const int total = static_cast<int>(images.size());

  pdfium::LibraryScope library;
  const std::unique_ptr<codecs::ImagingFactory> factory = codecs::createImagingFactory();
  if (!factory) return makeErrorResult(results::imageReadFailed);
  pdfium::ScopedDocument document(FPDF_CreateNewDocument());
  if (!document) return makeErrorResult(results::pdfCreateFailed);

  if (progress) progress(0, total, std::string());

  for (int i = 0; i < total; ++i) {
    JobResult failure;
    if (!buildPage(document.get(), factory.get(), images, i, progress, &failure)) return failure;
  }

  // Nothing is written at the output path before every page is built.
  switch (savePdfToFile(document.get(), outputPath)) {
    case platform::IoStatus::ok:
      return protocol::makeSuccessResult(total);
    case platform::IoStatus::diskFull:
      return makeErrorResult(results::diskFullPdf);
    case platform::IoStatus::other:
      break;
  }
  return makeErrorResult(results::cannotWritePdf);
}

}  // namespace folio::assemble
