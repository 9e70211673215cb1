#include "assemble/convert_images_to_pdf.h"

#include <cmath>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "assemble/decode_image.h"
#include "assemble/display_name.h"
#include "assemble/save_pdf_to_file.h"
#include "assemble/upright.h"
#include "codecs/imaging.h"
#include "pdfium/holders.h"

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

using Bytes = std::vector<std::uint8_t>;

int readBytes(void* param, unsigned long position, unsigned char* out, unsigned long size) {
  const Bytes& bytes = *static_cast<const Bytes*>(param);
  if (position > bytes.size() || size > bytes.size() - position) return 0;
  std::memcpy(out, bytes.data() + position, size);
  return 1;
}

struct MemorySink {
  FPDF_FILEWRITE header;
  Bytes* out;
};

int appendBlock(FPDF_FILEWRITE* header, const void* data, unsigned long size) {
  Bytes& out = *reinterpret_cast<MemorySink*>(header)->out;
  const auto* from = static_cast<const std::uint8_t*>(data);
  try {
    out.insert(out.end(), from, from + size);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

// The document saved into bytes and loaded back from them: its images come
// back compressed, so a page moved from it holds compressed data rather
// than raw pixels until the job's document is saved. The bytes must outlive
// the document. Null on failure.
pdfium::ScopedDocument compressedCopy(FPDF_DOCUMENT document, Bytes* bytes) {
  MemorySink sink{{1, appendBlock}, bytes};
  if (!FPDF_SaveAsCopy(document, &sink.header, FPDF_NO_INCREMENTAL)) return nullptr;
  return pdfium::ScopedDocument(FPDF_LoadMemDocument64(bytes->data(), bytes->size(), nullptr));
}

// One image's page, built in a one-page document of its own and then moved
// into the job's document. PDFium walks the whole document every time it
// generates a page's content, so pages built in place made a list cost the
// square of its length (2000 images took a minute); built apart, every page
// costs the same however many came first.
class PageBuilder {
 public:
  PageBuilder(double width, double height) : width_(width), height_(height) {}

  // The page and its empty image object; a failure to make them.
  std::optional<JobResult> start() {
    pageDocument_.reset(FPDF_CreateNewDocument());
    if (!pageDocument_) return makeErrorResult(results::pdfCreateFailed);
    page_.reset(FPDFPage_New(pageDocument_.get(), 0, width_, height_));
    if (!page_) return makeErrorResult(results::pdfCreateFailed);
    image_.reset(FPDFPageObj_NewImageObj(pageDocument_.get()));
    if (!image_) return makeErrorResult(results::pdfCreateFailed);
    return std::nullopt;
  }

  FPDF_PAGEOBJECT image() const { return image_.get(); }

  // Draws the image over the page by matrix, completes the page and moves it
  // into document as page index. With compress, the page is compressed
  // before it moves, so that it costs the job its compressed size only.
  std::optional<JobResult> finish(FPDF_DOCUMENT document, int index, const ImageMatrix& m,
                                  bool compress) {
    if (!FPDFImageObj_SetMatrix(image_.get(), m.a, m.b, m.c, m.d, m.e, m.f)) {
      return makeErrorResult(results::pdfCreateFailed);
    }
    // From here the page owns the image object.
    FPDFPage_InsertObject(page_.get(), image_.release());
    if (!FPDFPage_GenerateContent(page_.get())) return makeErrorResult(results::pdfCreateFailed);
    page_.reset();

    Bytes saved;
    pdfium::ScopedDocument source = std::move(pageDocument_);
    if (compress) {
      pdfium::ScopedDocument compressed = compressedCopy(source.get(), &saved);
      // The raw pixels go before the page moves.
      source = std::move(compressed);
      if (!source) return makeErrorResult(results::pdfCreateFailed);
    }
    const int onlyPage = 0;
    if (!FPDF_ImportPagesByIndex(document, source.get(), &onlyPage, 1, index)) {
      return makeErrorResult(results::pdfCreateFailed);
    }
    return std::nullopt;
  }

 private:
  double width_;
  double height_;
  pdfium::ScopedDocument pageDocument_;
  pdfium::ScopedPage page_;
  pdfium::ScopedPageObject image_;
};

// A whole JPEG stream: from its start marker to its end marker. PDFium
// takes any bytes, an empty stream included, and the page would be blank.
bool wholeJpeg(const Bytes& jpeg) {
  return jpeg.size() >= 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8 && jpeg[jpeg.size() - 2] == 0xFF &&
         jpeg.back() == 0xD9;
}

// Hands the JPEG's bytes to the image object as they are. False when PDFium
// does not take them, or reads another size from them than the decoder did:
// it reads JPEG headers with a parser of its own.
bool loadJpeg(FPDF_PAGEOBJECT image, const Bytes& jpeg, const codecs::FrameInfo& info) {
  if (!wholeJpeg(jpeg)) return false;
  FPDF_FILEACCESS access{static_cast<unsigned long>(jpeg.size()), readBytes,
                         const_cast<Bytes*>(&jpeg)};
  if (!FPDFImageObj_LoadJpegFileInline(nullptr, 0, image, &access)) return false;
  unsigned int width = 0, height = 0;
  return FPDFImageObj_GetImagePixelSize(image, &width, &height) && width == info.width &&
         height == info.height;
}

// An image decoded, turned and flattened into pixels.
std::optional<JobResult> placeDecoded(FPDF_DOCUMENT document, int index, codecs::ImageFrame* frame,
                                      double width, double height) {
  PageBuilder builder(width, height);
  {
    DecodedImage image;
    if (!decodeFrame(frame, &image)) return makeErrorResult(results::imageReadFailed);
    if (auto failure = builder.start()) return failure;
    // A view of the decoded rows: no pixel is copied here.
    pdfium::ScopedBitmap bitmap(
        FPDFBitmap_CreateEx(static_cast<int>(image.width), static_cast<int>(image.height),
                            FPDFBitmap_BGR, image.pixels.data(), static_cast<int>(image.stride)));
    if (!bitmap) return makeErrorResult(results::imageBitmapTooLarge);
    if (!FPDFImageObj_SetBitmap(nullptr, 0, builder.image(), bitmap.get())) {
      return makeErrorResult(results::pdfCreateFailed);
    }
  }  // The image object holds a copy of its own: the decoded pixels go now.
  return builder.finish(document, index, placementMatrix(Transform::none, width, height), true);
}

// Builds page index of the document from the image at path: none once the
// page is in the document, else the failure that ends the job.
std::optional<JobResult> buildPage(FPDF_DOCUMENT document, const codecs::ImagingFactory& factory,
                                   const std::u16string& path, int index) {
  std::unique_ptr<codecs::ImageFrame> frame = factory.openFirstFrame(path);
  if (!frame) return makeErrorResult(results::imageReadFailed);
  const std::optional<UprightFrame> upright = uprightFrameOf(frame->info());
  if (!upright) return makeErrorResult(results::imageReadFailed);

  const double width = static_cast<double>(upright->width) * 72.0 / upright->dpiX;
  const double height = static_cast<double>(upright->height) * 72.0 / upright->dpiY;
  if (!pageSideAcceptable(width) || !pageSideAcceptable(height)) {
    return makeErrorResult(results::imageTooLarge);
  }

  // A JPEG that every PDF reader decodes as we do keeps its own bytes: the
  // page holds the file rather than its pixels (a tenth of the size for
  // camera photos) and is never decoded here, and its orientation becomes
  // the matrix.
  if (frame->info().placeableJpeg) {
    Bytes jpeg;
    switch (frame->readStoredJpeg(&jpeg)) {
      case codecs::StoredJpeg::refused:
        return makeErrorResult(results::imageReadFailed);
      case codecs::StoredJpeg::placeable: {
        PageBuilder builder(width, height);
        if (auto failure = builder.start()) return failure;
        if (loadJpeg(builder.image(), jpeg, frame->info())) {
          return builder.finish(document, index, placementMatrix(upright->transform, width, height),
                                false);
        }
        break;  // what PDFium does not take is decoded instead
      }
      case codecs::StoredJpeg::decode:
        break;
    }
    // The frame has been read through; the decode starts from the file again.
    frame = factory.openFirstFrame(path);
    if (!frame) return makeErrorResult(results::imageReadFailed);
  }
  return placeDecoded(document, index, frame.get(), width, height);
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
    if (auto failure = buildPage(document.get(), *factory, images[i], i)) return *failure;
    if (progress) progress(i + 1, total, displayNameOf(images[i]));
  }

  // Nothing is written at the output path before every page is built.
  const protocol::Result saved = savePdfToFile(document.get(), outputPath);
  if (saved.code != results::done.code) return makeErrorResult(saved);
  return protocol::makeSuccessResult(total);
}

}  // namespace folio::assemble
