// What the POSIX side of the platform layer shares: a descriptor from the
// neutral handle, and the system's error codes that mean a full disk.
#pragma once

#include <errno.h>

#include <cstdint>

#include "platform/files.h"

namespace folio::platform::posix {

inline int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

inline IoStatus statusOf(int error) {
  return (error == ENOSPC || error == EDQUOT) ? IoStatus::diskFull : IoStatus::other;
}

}  // namespace folio::platform::posix
