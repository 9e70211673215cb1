#include <windows.h>

#include <climits>
#include <string_view>

#include "platform/native_path.h"
#include "platform/win_support.h"

namespace folio::platform {
namespace {

using WideView = std::wstring_view;

// Paths behind these prefixes the system takes literally, without making
// them full or collapsing their separators.
constexpr WideView kLiteral = L"\\\\?\\";
constexpr WideView kObjectManager = L"\\??\\";
// A full path to a device, and one to a share; and a share's literal form.
constexpr WideView kDevice = L"\\\\.\\";
constexpr WideView kUnc = L"\\\\";
constexpr WideView kLiteralUnc = L"\\\\?\\UNC\\";

// A full path this long or longer is handed on in its literal form. MAX_PATH
// bounds the plain form with its terminating zero, and the calls that make
// folders stop 12 units earlier still; the literal form names the same file,
// so the margin costs nothing.
constexpr size_t kLongPath = MAX_PATH - 12;

bool startsWith(WideView text, WideView prefix) { return text.substr(0, prefix.size()) == prefix; }

// The path made full against the current folder (of its drive, for a path
// such as Y:name) exactly as the file calls themselves make it: "." and ".."
// resolved, slashes turned into backslashes, runs of separators collapsed.
// Empty when the system cannot make it.
std::wstring fullPathOf(const wchar_t* path) {
  std::wstring full;
  DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
  // The size asked for includes the terminating zero; a current folder that
  // changed in between asks again.
  while (size > full.size()) {
    full.resize(size);
    size = GetFullPathNameW(path, size, full.data(), nullptr);
  }
  full.resize(size);
  return full;
}

bool isAsciiLetter(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

// The literal form of a path and its full form; the path as given where no
// literal prefix fits.
std::wstring literalPathOf(const std::wstring& given, const std::wstring& full) {
  if (startsWith(given, kLiteral)) return given;
  if (startsWith(full, kLiteral)) return full;
  if (startsWith(full, kDevice)) return std::wstring(kLiteral) + full.substr(kDevice.size());
  if (startsWith(full, kUnc)) return std::wstring(kLiteralUnc) + full.substr(kUnc.size());
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return std::wstring(kLiteral) + full;
  // No form the literal prefix fits: the call meets the path as given.
  return given;
}

}  // namespace

std::wstring win::systemPath(const std::u16string& path) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 units");
  const std::wstring given(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (startsWith(given, kLiteral) || startsWith(given, kObjectManager)) return given;
  const std::wstring full = fullPathOf(given.c_str());
  if (full.size() < kLongPath && given.size() < kLongPath) return given;
  return literalPathOf(given, full);
}

std::wstring win::objectPath(const std::u16string& path) {
  const std::wstring given(reinterpret_cast<const wchar_t*>(path.c_str()));
  std::wstring literal =
      startsWith(given, kObjectManager) ? given : literalPathOf(given, fullPathOf(given.c_str()));
  if (startsWith(literal, kLiteral)) literal[1] = L'?';
  return literal;
}

// PDFium on Windows reads a narrow path as UTF-8 and opens it with the wide
// calls, so the strict UTF-8 form of the system's form names the same file; a
// lone surrogate has none.
std::optional<std::string> libraryPath(const std::u16string& path) {
  const std::wstring wide = win::systemPath(path);
  if (wide.empty()) return std::string();
  if (wide.size() > INT_MAX) return std::nullopt;
  const int units = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), units, out.data(), size,
                          nullptr, nullptr) != size) {
    return std::nullopt;
  }
  return out;
}

std::u16string joinPath(const std::u16string& directory, const std::u16string& name) {
  // A bare drive (Y:) names that drive's current folder: a separator after
  // it would name its root instead. A folder that already ends in a separator
  // gets no second one, since a literal (\\?\) path keeps both.
  const bool bareDrive =
      directory.size() == 2 && isAsciiLetter(directory[0]) && directory[1] == u':';
  if (bareDrive || directory.ends_with(u'\\') || directory.ends_with(u'/')) return directory + name;
  return directory + u'\\' + name;
}

}  // namespace folio::platform
