#include "protocol/job_result.h"

namespace folio::protocol {

JobResult makeErrorResult(const Result& result) { return JobResult{result, 0}; }

JobResult makeSuccessResult(std::int32_t count) { return JobResult{results::done, count}; }

}  // namespace folio::protocol
