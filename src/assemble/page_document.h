// A decoded image's page as a one-page PDF of its own, written on any
// thread: the image's rows are compressed as a PNG's are (each row
// predicted, then deflated), and PDF readers undo both with the same
// predictors. The job's thread then only loads the page and moves it into
// the document, so that compressing, the costliest step of a decoded image,
// runs beside PDFium rather than in it.
#pragma once

#include <cstdint>
#include <vector>

#include "assemble/decode_image.h"

namespace folio::assemble {

// Writes into out the PDF whose one page, pageWidth by pageHeight points,
// is filled by the image. False when the image cannot be compressed (no
// memory); out is unspecified then.
bool writePageDocument(const DecodedImage& image, double pageWidth, double pageHeight,
                       std::vector<std::uint8_t>* out);

}  // namespace folio::assemble
