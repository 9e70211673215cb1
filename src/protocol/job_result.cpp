#include "protocol/job_result.h"

namespace folio::protocol {

JobResult makeErrorResult(std::int32_t code, const std::string& name) {
  JobResult result;
  result.code = code;
  result.errorName = name;
  return result;
}

JobResult makeErrorResult(const Result& result) { return makeErrorResult(result.code, result.name); }

JobResult makeSuccessResult(std::int32_t count) {
  JobResult result;
  result.code = 0;
  result.errorName.clear();
  result.count = count;
  return result;
}

}  // namespace folio::protocol
