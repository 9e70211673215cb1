// How many processors this process may run on: those its affinity allows,
// not those the machine has, so that a job confined to one processor
// works as it would on a machine with one.
#pragma once

namespace folio::platform {

// At least 1.
unsigned usableProcessors();

}  // namespace folio::platform
