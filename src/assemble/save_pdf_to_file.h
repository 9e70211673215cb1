// Writes a finished document to its output path, whole or not at all.
#pragma once

#include <exception>
#include <string>

#include "assemble/jpeg_file_source.h"
#include "assemble/xref_mender.h"
#include "pdfium/fpdf_api.h"
#include "protocol/result_codes.h"

namespace folio::assemble {

// What PDFium is handed: its writer record first, so that the callback finds
// the rest through the pointer PDFium gives back.
struct PdfFileSink {
  FPDF_FILEWRITE header;
  XrefMender* mender;         // puts the table right on the bytes' way to the file
  std::exception_ptr thrown;  // what the writing threw, for after PDFium returns
};

// PDFium's block writer: 1 when the bytes were taken, 0 otherwise. Nothing
// is thrown through PDFium's frames: what the writing throws is kept in the
// sink, and every later block is refused.
int writeBlockToFile(FPDF_FILEWRITE* sink, const void* data, unsigned long size);

// Saves the document at outputPath, replacing a file that is there: done, or
// the images job's failure. On any failure nothing is left at the path. A
// document whose placed JPEGs were not all read whole and unchanged from
// their files (sources, when given) is not saved: IMAGE_READ_FAILED.
protocol::Result savePdfToFile(FPDF_DOCUMENT document, const std::u16string& outputPath,
                               JpegFileSources* sources = nullptr);

}  // namespace folio::assemble
