// The imaging runtime: what the image codecs and the PNG encoder need set up
// on the calling thread before a job starts, and torn down after it.
#pragma once

namespace folio::platform {

bool initImagingRuntime();
void shutdownImagingRuntime();

}  // namespace folio::platform
