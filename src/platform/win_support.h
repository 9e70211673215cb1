// What the Windows side of the platform layer shares: paths for the wide
// calls, the system's error codes that mean a full disk, and a holder for COM
// interfaces.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/files.h"

namespace folio::platform::win {

// A UTF-16 path in the form to hand a wide file call (wchar_t is UTF-16
// here), up to its first zero unit. A path whose full form is long is given
// as that full form behind the \\?\ prefix, which every file call takes up
// to 32767 units on Windows 7 too; any other path is handed on as it is.
std::wstring systemPath(const std::u16string& path);

// The same file's name as the system's object manager takes it (\??\ and
// the full path), which calls that hand a name on without making it full
// need.
std::wstring objectPath(const std::u16string& path);

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
