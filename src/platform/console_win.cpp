#include <windows.h>

#include "platform/console.h"

namespace folio::platform {
namespace {

DWORD chunkOf(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

// A pipe handed over in no-wait mode takes nothing while it is full and says
// so with a success that wrote nothing: its reader is still there.
bool isNoWaitPipe(HANDLE handle) {
  DWORD state = 0;
  return GetNamedPipeHandleStateW(handle, &state, nullptr, nullptr, nullptr, nullptr, 0) &&
         (state & PIPE_NOWAIT);
}

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
  for (;;) {
    DWORD written = 0;
    // A reader that is gone fails the write (a broken or closing pipe).
    if (!WriteFile(handle, data, chunkOf(size), &written, nullptr)) return 0;
    if (written > 0 || size == 0 || !isNoWaitPipe(handle)) return written;
    // The line waits for room, as it would on a pipe that blocks.
    Sleep(1);
  }
}

}  // namespace folio::platform
