#include "platform/imaging_runtime.h"

#include <objbase.h>

namespace folio::platform {

// The imaging component is reached through COM, which must be set up on the
// calling thread; S_FALSE (already set up) counts as success.
bool initImagingRuntime() { return SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }

void shutdownImagingRuntime() { CoUninitialize(); }

}  // namespace folio::platform
