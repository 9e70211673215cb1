#include <windows.h>

#include "platform/console.h"

namespace folio::platform {
namespace {

DWORD chunkOf(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

}  // namespace

void prepareProcess() {
  // Nobody sits in front of the worker: no error box may wait for a click.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

bool standardOutputAvailable() {
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

size_t writeStandardOutput(const char* data, size_t size) {
  // The handle is asked for anew each time: nothing about it is cached.
  const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  if (!WriteFile(handle, data, chunkOf(size), &written, nullptr)) return 0;
  return written;
}

}  // namespace folio::platform
