#include "assemble/save_pdf_to_file.h"

#include "platform/new_file.h"

namespace folio::assemble {
int writeBlockToFile(FPDF_FILEWRITE* header, const void* data, unsigned long size) {
  auto* sink = reinterpret_cast<PdfFileSink*>(header);
  // Each block goes straight to the file; a short write is continued, a
  // write that makes no progress ends the save.
  const platform::IoStatus status = sink->file->writeAll(data, size);
  if (status != platform::IoStatus::ok) {
    sink->lastError = status;
    return 0;
  }
  return 1;
}

platform::IoStatus savePdfToFile(FPDF_DOCUMENT document, const std::u16string& outputPath) {
  // A file already at the path is replaced; one that is protected stays and
  // makes the naming below fail.
  platform::deleteFile(outputPath);
  // Where the file system cannot hold a file without a name, the document is
  // written in place; either way a failure leaves nothing at the path.
  platform::NewFile file = platform::NewFile::create(outputPath, outputPath, nullptr);
  if (!file.isOpen()) return platform::IoStatus::other;

  PdfFileSink sink{{1, writeBlockToFile}, &file.file(), platform::IoStatus::ok};
  const bool produced = FPDF_SaveAsCopy(document, &sink.header, FPDF_NO_INCREMENTAL) != 0;
  // PDFium can answer true although one of its block writes failed (the
  // last blocks of a small document, on a full disk): a document whose bytes
  // did not all reach the file is not saved, whatever PDFium answers.
  if (sink.lastError != platform::IoStatus::ok) return sink.lastError;
  if (!produced) return platform::IoStatus::other;
  const platform::IoStatus committed = file.commit();
  if (committed == platform::IoStatus::ok) file.keep();
  return committed;
}

}  // namespace folio::assemble
