// What a job driver hands back, and the callback through which it reports.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/result_codes.h"

namespace folio::protocol {

// The outcome as one row of the table, so that a code never travels with
// another code's name, and the number of items done.
struct JobResult {
  // A result nobody filled in reads as the unknown failure, never as success.
  Result result = results::unknown;
  std::int32_t count = 0;

  bool succeeded() const { return result.code == 0; }
};

JobResult makeErrorResult(const Result& result);
JobResult makeSuccessResult(std::int32_t count);

// (current, total, UTF-8 display name). Current 0 announces the job.
using ProgressCallback = std::function<void(std::int32_t, std::int32_t, const std::string&)>;

}  // namespace folio::protocol
