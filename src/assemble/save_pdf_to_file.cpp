#include "assemble/save_pdf_to_file.h"

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
  // makes the exclusive create below fail.
  platform::deleteFile(outputPath);
  platform::File file = platform::createNewFile(outputPath);
  if (!file.isOpen()) return platform::IoStatus::other;

  PdfFileSink sink{{1, writeBlockToFile}, &file, platform::IoStatus::ok};
  const bool produced = FPDF_SaveAsCopy(document, &sink.header, FPDF_NO_INCREMENTAL) != 0;
  // PDFium can answer true although one of its block writes failed (the
  // last blocks of a small document, on a full disk): a document whose bytes
  // did not all reach the disk is not saved, whatever PDFium answers, and
  // neither is one whose flush failed.
  const bool written = produced && sink.lastError == platform::IoStatus::ok;
  const platform::IoStatus flushed = file.flush();
  file.close();
  if (written && flushed == platform::IoStatus::ok) return platform::IoStatus::ok;

  // No truncated PDF is ever left behind.
  platform::deleteFile(outputPath);
  if (sink.lastError != platform::IoStatus::ok) return sink.lastError;
  return flushed == platform::IoStatus::ok ? platform::IoStatus::other : flushed;
}

}  // namespace folio::assemble
