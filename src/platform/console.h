// The process and its standard output, as the status-line protocol needs them.
#pragma once

#include <cstddef>

namespace folio::platform {

// Makes the process fit to run unattended: no system dialog or signal may
// stop it because a pipe closed or a device failed; such failures must come
// back as errors instead.
void prepareProcess();

// Whether the process has a standard output to write to at all.
bool standardOutputAvailable();

// One attempt to write to standard output: the number of bytes accepted, or 0
// when nothing was (a closed pipe, any error). Interrupted calls are retried,
// and an output that cannot take bytes yet is waited for.
size_t writeStandardOutput(const char* data, size_t size);

}  // namespace folio::platform
