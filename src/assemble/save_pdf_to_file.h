// Writes a finished document to its output path, whole or not at all.
#pragma once

#include <string>

#include "pdfium/fpdf_api.h"
#include "platform/files.h"

namespace folio::assemble {

// What PDFium is handed: its writer record first, so that the callback finds
// the file and the error through the pointer PDFium gives back.
struct PdfFileSink {
  FPDF_FILEWRITE header;
  platform::File* file;
  platform::IoStatus lastError;
};

// PDFium's block writer: 1 when every byte reached the file, 0 otherwise.
int writeBlockToFile(FPDF_FILEWRITE* sink, const void* data, unsigned long size);

// Saves the document at outputPath, replacing a file that is there. On any
// failure nothing is left at the path; a full disk says so.
platform::IoStatus savePdfToFile(FPDF_DOCUMENT document, const std::u16string& outputPath);

}  // namespace folio::assemble
