#include "assemble/convert_images_to_pdf.h"

namespace folio::assemble {

// The assembly job is not built yet; it answers as an unknown failure.
protocol::JobResult convertImagesToPdf(const std::vector<std::u16string>&, const std::u16string&,
                                       const protocol::ProgressCallback&) {
  return protocol::makeErrorResult(protocol::results::unknown);
}

}  // namespace folio::assemble
