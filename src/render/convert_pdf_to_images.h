// The PDF-to-images job.
#pragma once

#include <string>

#include "protocol/job_result.h"

namespace folio::render {

protocol::JobResult convertPdfToImages(const std::u16string& pdfPath,
                                       const std::u16string& outputDirectory,
                                       const protocol::ProgressCallback& progress);

}  // namespace folio::render
