#include <windows.h>

#include <climits>

#include "platform/native_path.h"

namespace folio::platform {

// PDFium on Windows reads a narrow path as UTF-8 and opens it with the wide
// calls, so the strict UTF-8 form names the same file; a lone surrogate has
// none.
std::optional<std::string> libraryPath(const std::u16string& path) {
  const size_t end = path.find(u'\0');
  const size_t length = end == std::u16string::npos ? path.size() : end;
  if (length == 0) return std::string();
  if (length > INT_MAX) return std::nullopt;
  const auto* wide = reinterpret_cast<const wchar_t*>(path.data());
  const int units = static_cast<int>(length);
  const int size =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, units, out.data(), size, nullptr,
                          nullptr) != size) {
    return std::nullopt;
  }
  return out;
}

std::u16string joinPath(const std::u16string& directory, const std::u16string& name) {
  return directory + u'\\' + name;
}

}  // namespace folio::platform
