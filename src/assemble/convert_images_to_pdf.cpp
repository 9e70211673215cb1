#include "assemble/convert_images_to_pdf.h"

#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "assemble/decode_image.h"
#include "assemble/display_name.h"
#include "assemble/jpeg_file_source.h"
#include "assemble/page_document.h"
#include "assemble/read_ahead.h"
#include "assemble/save_pdf_to_file.h"
#include "assemble/upright.h"
#include "codecs/imaging.h"
#include "pdfium/holders.h"

namespace folio::assemble {
namespace {

namespace results = protocol::results;
using protocol::JobResult;
using protocol::makeErrorResult;

// A decoded image's page, written apart as a document of its own (on the
// read-ahead's thread), moved into the job's document: every such page costs
// the same however many came first, since nothing walks the document, and
// its image arrives compressed.
std::optional<JobResult> placeDecoded(FPDF_DOCUMENT document, int index,
                                      const std::vector<std::uint8_t>& pageDocument) {
  const pdfium::ScopedDocument source(
      FPDF_LoadMemDocument64(pageDocument.data(), pageDocument.size(), nullptr));
  const int onlyPage = 0;
  if (!source || !FPDF_ImportPagesByIndex(document, source.get(), &onlyPage, 1, index)) {
    return makeErrorResult(results::pdfCreateFailed);
  }
  return std::nullopt;
}

// Whether PDFium takes the JPEG into object as it was checked. It reads the
// header with a parser of its own; what it does not take, or reads another
// size from, is decoded instead.
bool loadsAsChecked(FPDF_PAGEOBJECT object, const PlacedJpeg& jpeg, JpegFileSource* source) {
  unsigned int width = 0, height = 0;
  return FPDFImageObj_LoadJpegFile(nullptr, 0, object, source->access()) &&
         FPDFImageObj_GetImagePixelSize(object, &width, &height) && width == jpeg.width &&
         height == jpeg.height;
}

// A placed JPEG's page, built in the job's document itself, where its image
// can stay a path that PDFium reads only when it saves; a page imported from
// elsewhere would carry a copy of the bytes. The image goes into a stamp
// annotation's appearance, and the page is flattened: that writes the
// page's content without generating it from every object of the document,
// which would make a list cost the square of its length. The annotation and
// a crop box stretch 1 point past the page, or some readers drop the
// image's last partly covered column; both boxes are put back after.
std::optional<JobResult> placeJpeg(FPDF_DOCUMENT document, int index, const PreparedImage& image,
                                   pdfium::ScopedPageObject object) {
  const double w = image.pageWidth, h = image.pageHeight;
  const ImageMatrix m = placementMatrix(image.upright.transform, w, h);
  if (!FPDFImageObj_SetMatrix(object.get(), m.a, m.b, m.c, m.d, m.e, m.f)) {
    return makeErrorResult(results::pdfCreateFailed);
  }
  // Appended: the page's index is the document's page count.
  pdfium::ScopedPage page(FPDFPage_New(document, index, w, h));
  if (!page) return makeErrorResult(results::pdfCreateFailed);
  // The matrix fills the page, so the image covers the page box exactly.
  const FS_RECTF around{-1.0f, static_cast<float>(h) + 1.0f, static_cast<float>(w) + 1.0f, -1.0f};
  FPDFPage_SetCropBox(page.get(), around.left, around.bottom, around.right, around.top);
  {
    pdfium::ScopedAnnotation stamp(FPDFPage_CreateAnnot(page.get(), FPDF_ANNOT_STAMP));
    if (!stamp || !FPDFAnnot_SetRect(stamp.get(), &around) ||
        !FPDFAnnot_AppendObject(stamp.get(), object.get())) {
      return makeErrorResult(results::pdfCreateFailed);
    }
    (void)object.release();  // the annotation's appearance owns it now
  }
  if (FPDFPage_Flatten(page.get(), FLAT_NORMALDISPLAY) != FLATTEN_SUCCESS) {
    return makeErrorResult(results::pdfCreateFailed);
  }
  FPDFPage_SetMediaBox(page.get(), 0.0f, 0.0f, static_cast<float>(w), static_cast<float>(h));
  FPDFPage_SetCropBox(page.get(), 0.0f, 0.0f, static_cast<float>(w), static_cast<float>(h));
  return std::nullopt;
}

// Builds page index from its prepared image: none once the page is in the
// document, else the failure that ends the job.
std::optional<JobResult> buildPage(FPDF_DOCUMENT document, const codecs::ImagingFactory& factory,
                                   const std::u16string& path, int index, PreparedImage image,
                                   JpegFileSources* sources) {
  if (image.failure) return makeErrorResult(*image.failure);
  if (image.jpeg) {
    JpegFileSource& source = sources->add(path, image.jpeg->length, image.jpeg->fingerprint);
    pdfium::ScopedPageObject object(FPDFPageObj_NewImageObj(document));
    if (!object) return makeErrorResult(results::pdfCreateFailed);
    if (loadsAsChecked(object.get(), *image.jpeg, &source)) {
      return placeJpeg(document, index, image, std::move(object));
    }
    object.reset();  // it goes before the source it reads through
    if (!source.unchanged()) return makeErrorResult(results::imageReadFailed);
    // The rare JPEG that PDFium reads otherwise than libjpeg: decoded here,
    // within the memory its image already holds, once its file is found to
    // hold still what was checked (a file swapped for another picture since
    // would make that one's page). No page reads it at the save.
    if (!source.readWholeNow()) return makeErrorResult(results::imageReadFailed);
    sources->dropLast();
    const std::unique_ptr<codecs::ImageFrame> frame = factory.openFirstFrame(path);
    DecodedImage decoded;
    if (!frame || !decodeFrame(frame.get(), &decoded)) {
      return makeErrorResult(results::imageReadFailed);
    }
    if (!writePageDocument(decoded, image.pageWidth, image.pageHeight, &image.pageDocument)) {
      return makeErrorResult(results::pdfCreateFailed);
    }
  }
  return placeDecoded(document, index, image.pageDocument);
}

}  // namespace

JobResult convertImagesToPdf(const std::vector<std::u16string>& images,
                             const std::u16string& outputPath,
                             const protocol::ProgressCallback& progress) {
  if (images.empty()) return makeErrorResult(results::imageReadFailed);
  const int total = static_cast<int>(images.size());

  const std::unique_ptr<codecs::ImagingFactory> factory = codecs::createImagingFactory();
  if (!factory) return makeErrorResult(results::imageReadFailed);
  // The first images are read while PDFium sets itself up. The first failure
  // ends the job as if no later image had been read: the read-ahead stops,
  // and what it read goes unused.
  std::optional<ReadAhead> readAhead(std::in_place, images, *factory);
  pdfium::LibraryScope library;
  // The files of placed JPEGs, read at the save: they outlive the document.
  JpegFileSources sources;
  pdfium::ScopedDocument document(FPDF_CreateNewDocument());
  if (!document) return makeErrorResult(results::pdfCreateFailed);

  if (progress) progress(0, total, std::string());
  for (int i = 0; i < total; ++i) {
    if (auto failure =
            buildPage(document.get(), *factory, images[i], i, readAhead->take(i), &sources)) {
      return *failure;
    }
    if (progress) progress(i + 1, total, displayNameOf(images[i]));
  }
  readAhead.reset();  // its threads end before the save begins

  // Nothing is written at the output path before every page is built.
  const protocol::Result saved = savePdfToFile(document.get(), outputPath, &sources);
  if (saved.code != results::done.code) return makeErrorResult(saved);
  return protocol::makeSuccessResult(total);
}

}  // namespace folio::assemble
