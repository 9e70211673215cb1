// The images-to-PDF job.
#pragma once

#include <string>
#include <vector>

#include "protocol/job_result.h"

namespace folio::assemble {

protocol::JobResult convertImagesToPdf(const std::vector<std::u16string>& images,
                                       const std::u16string& outputPath,
                                       const protocol::ProgressCallback& progress);

}  // namespace folio::assemble
