#include "platform/imaging_runtime.h"

namespace folio::platform {

// The codec libraries used here need no per-thread set-up; the call keeps its
// place so that a failure to set up would still end the run properly.
bool initImagingRuntime() { return true; }

void shutdownImagingRuntime() {}

}  // namespace folio::platform
