#include "assemble/save_pdf_to_file.h"

#include <vector>

#include "platform/files.h"
#include "platform/new_file.h"

namespace folio::assemble {

namespace results = protocol::results;

int writeBlockToFile(FPDF_FILEWRITE* header, const void* data, unsigned long size) {
  auto& sink = *reinterpret_cast<PdfFileSink*>(header);
  if (sink.thrown) return 0;
  try {
    return sink.mender->write(data, size) ? 1 : 0;
  } catch (...) {
    sink.thrown = std::current_exception();
    return 0;
  }
}

protocol::Result savePdfToFile(FPDF_DOCUMENT document, const std::u16string& outputPath,
                               JpegFileSources* sources) {
  // A file already at the path is replaced; one that is protected stays and
  // makes the naming below fail. It may be a placed JPEG of this very
  // document, read only by the save: its bytes are taken first.
  if (sources != nullptr && !sources->keepBytesOfFileAt(outputPath)) {
    return results::imageReadFailed;
  }
  platform::deleteFile(outputPath);
  // Where the file system cannot hold a file without a name, the document is
  // written in place; either way a failure leaves nothing at the path.
  platform::NewFile file = platform::NewFile::create(outputPath, outputPath, nullptr);
  if (!file.isOpen()) return results::cannotWritePdf;

  // PDFium hands over its document in pieces of a few bytes as often as in
  // blocks (a thousand writes for 18 photos): the small ones are gathered
  // into one write. A short write is continued, and the first write that
  // makes no progress ends the save.
  constexpr size_t kGathered = 64 * 1024;
  std::vector<char> gathered;
  gathered.reserve(kGathered);
  platform::IoStatus lastError = platform::IoStatus::ok;
  const auto writeOut = [&](const char* data, size_t size) {
    if (lastError == platform::IoStatus::ok) lastError = file.file().writeAll(data, size);
    return lastError == platform::IoStatus::ok;
  };
  const auto flushGathered = [&] {
    const bool ok = writeOut(gathered.data(), gathered.size());
    gathered.clear();
    return ok;
  };
  XrefMender mender([&](const char* data, size_t size) {
    if (gathered.size() + size > kGathered && !flushGathered()) return false;
    if (size >= kGathered) return writeOut(data, size);
    gathered.insert(gathered.end(), data, data + size);
    return lastError == platform::IoStatus::ok;
  });
  PdfFileSink sink{{1, writeBlockToFile}, &mender, nullptr};
  if (sources != nullptr) sources->forgetWholeReads();
  const bool produced = FPDF_SaveAsCopy(document, &sink.header, FPDF_NO_INCREMENTAL) != 0;
  // The file goes with its holder; the job ends as anything thrown ends it.
  if (sink.thrown) std::rethrow_exception(sink.thrown);
  // PDFium writes a stream it could not read as an empty one and answers
  // true: an input that changed since its check would become a blank or a
  // different page.
  if (produced && sources != nullptr && !sources->allReadWholeAndMatched()) {
    return results::imageReadFailed;
  }
  // PDFium can answer true although one of its block writes failed (the
  // last blocks of a small document, on a full disk): a document whose bytes
  // did not all reach the file is not saved, whatever PDFium answers.
  const bool written = produced && mender.finish() && flushGathered();
  const platform::IoStatus failed = written ? file.commit() : lastError;
  if (written && failed == platform::IoStatus::ok) {
    file.keep();
    return results::done;
  }
  if (failed == platform::IoStatus::diskFull) return results::diskFullPdf;
  if (failed == platform::IoStatus::ok && mender.refused()) return results::pdfCreateFailed;
  return results::cannotWritePdf;
}

}  // namespace folio::assemble
