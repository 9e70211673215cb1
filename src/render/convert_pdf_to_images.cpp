#include "render/convert_pdf_to_images.h"

#include <optional>
#include <string>

#include "pdfium/holders.h"
#include "platform/files.h"
#include "platform/native_path.h"
#include "protocol/text_encoding.h"
#include "render/page_file_name.h"
#include "render/page_writer_thread.h"
#include "render/render_page.h"

namespace folio::render {
namespace {

using protocol::JobResult;
using protocol::makeErrorResult;
namespace results = protocol::results;

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

// A page handed to the writer and not yet collected.
struct PageInFlight {
  std::int32_t number;
  std::string fileName;
  PageBuffer* pixels;
};

// The pages of one job: PDFium renders each on the job's thread while the page
// before is encoded and written on the writer's. Two buffers take turns, so at
// most two pages' pixels exist; a page of more than PageBuffer::kKeptBytes is
// rendered and written alone, so that the largest pages never share the
// memory (the 32-bit build's address space has little to spare).
class PagePipeline {
 public:
  PagePipeline(std::int32_t pageCount, const std::u16string& outputDirectory,
               const protocol::ProgressCallback& progress)
      : pageCount_(pageCount), outputDirectory_(outputDirectory), progress_(progress) {}

  // Renders page index and hands it to the writer. An empty optional means
  // the page is on its way; every page before it is then written and
  // reported.
  std::optional<JobResult> convertPage(FPDF_DOCUMENT document, std::int32_t index) {
    const bool overlaps = writer_.overlaps();
    PageBuffer& buffer = buffers_[overlaps ? index % 2 : 0];
    LoadedPage page;
    std::optional<JobResult> failure = loadPage(document, index, page);
    const bool large = page.size.bytes > PageBuffer::kKeptBytes;
    const bool alone = large || !overlaps;
    if (!failure && alone) {
      if (auto earlier = finishPageInFlight()) return earlier;
      if (large) buffers_[(index + 1) % 2].release();
    }
    if (!failure) failure = renderPage(page, buffer);
    // The page before counts first: if it failed, the job ends with its
    // failure, as it would have had this page never been rendered.
    if (auto earlier = finishPageInFlight()) return earlier;
    if (failure) return failure;

    const std::int32_t pageNumber = index + 1;
    std::string fileName = makePageFileName(pageNumber, pageCount_);
    std::u16string wideName;
    try {
      wideName = protocol::utf8ToWide(fileName);
    } catch (...) {
      return makeErrorResult(results::cannotWritePage);
    }
    const PageBitmapSize& size = page.size;
    writer_.start({platform::joinPath(outputDirectory_, wideName), buffer.data(),
                   static_cast<std::uint32_t>(size.width), static_cast<std::uint32_t>(size.height),
                   static_cast<std::uint32_t>(size.stride)});
    inFlight_ = PageInFlight{pageNumber, std::move(fileName), &buffer};
    if (alone) return finishPageInFlight();
    return std::nullopt;
  }

  // Waits for the page handed over, if any, and reports it once it is named.
  // An empty optional means it was written (or there was none).
  std::optional<JobResult> finishPageInFlight() {
    if (!inFlight_) return std::nullopt;
    WrittenPage written = writer_.collect();
    const PageInFlight page = std::move(*inFlight_);
    inFlight_.reset();
    page.pixels->trim();
    if (written.status == platform::IoStatus::diskFull) {
      return makeErrorResult(results::diskFullPage);
    }
    if (written.status != platform::IoStatus::ok) return makeErrorResult(results::cannotWritePage);
    report(progress_, page.number, pageCount_, page.fileName);
    // Named and reported: only now does the page keep its name. Had the
    // report failed (no memory for its line), the name would go with it.
    written.file.keep();
    return std::nullopt;
  }

 private:
  const std::int32_t pageCount_;
  const std::u16string& outputDirectory_;
  const protocol::ProgressCallback& progress_;
  PageBuffer buffers_[2];
  std::optional<PageInFlight> inFlight_;
  // After the buffers: the writer is stopped, its page finished, before the
  // pixels it borrows are freed.
  PageWriterThread writer_;
};

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
  PagePipeline pages(pageCount, outputDirectory, progress);
  for (std::int32_t index = 0; index < pageCount; ++index) {
    if (auto failure = pages.convertPage(document.get(), index)) return *failure;
  }
  if (auto failure = pages.finishPageInFlight()) return *failure;
  return protocol::makeSuccessResult(pageCount);
}

}  // namespace folio::render
