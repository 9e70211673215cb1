#include "render/convert_pdf_to_images.h"

namespace folio::render {

// The rendering job is not built yet; it answers as an unknown failure.
protocol::JobResult convertPdfToImages(const std::u16string&, const std::u16string&,
                                       const protocol::ProgressCallback&) {
  return protocol::makeErrorResult(protocol::results::unknown);
}

}  // namespace folio::render
