// What a job driver hands back, and the callback through which it reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/result_codes.h"

namespace folio::protocol {

struct JobResult {
  // A result nobody filled in reads as the unknown failure, never as success.
  std::int32_t code = results::unknown.code;
  std::string errorName = results::unknown.name;
  std::int32_t count = 0;
};

JobResult makeErrorResult(std::int32_t code, const std::string& name);
JobResult makeErrorResult(const Result& result);
JobResult makeSuccessResult(std::int32_t count);

// (current, total, UTF-8 display name). Current 0 announces the job.
using ProgressCallback = std::function<void(std::int32_t, std::int32_t, const std::string&)>;

}  // namespace folio::protocol
