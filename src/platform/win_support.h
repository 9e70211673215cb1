// What the Windows side of the platform layer shares: paths for the wide
// calls, the system's error codes that mean a full disk, and a holder for COM
// interfaces.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/files.h"

namespace folio::platform::win {

// A UTF-16 path as the wide calls take it. wchar_t is UTF-16 here, and the
// terminating zero of the string (or an earlier zero unit) ends the path.
inline const wchar_t* widePath(const std::u16string& path) {
  return reinterpret_cast<const wchar_t*>(path.c_str());
}

inline IoStatus statusOfError(DWORD error) {
  return (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) ? IoStatus::diskFull
                                                                       : IoStatus::other;
}

// The COM statuses of a full disk: the two system codes wrapped, and the
// storage layer's own.
inline IoStatus statusOfResult(HRESULT status) {
  if (SUCCEEDED(status)) return IoStatus::ok;
  return (status == HRESULT_FROM_WIN32(ERROR_DISK_FULL) ||
          status == HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL) || status == STG_E_MEDIUMFULL)
             ? IoStatus::diskFull
             : IoStatus::other;
}

// Holds one reference to a COM interface and gives it back when it goes.
struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <class Interface>
using ComPtr = std::unique_ptr<Interface, ComRelease>;

}  // namespace folio::platform::win
