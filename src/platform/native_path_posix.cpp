#include "platform/native_path_posix.h"

#include "platform/native_path.h"
#include "platform/unicode.h"

namespace folio::platform {
namespace {

// Bytes that are not UTF-8 travel as the lone surrogates U+DC80 to U+DCFF.
constexpr char16_t kEscapeBase = 0xDC00;

}  // namespace

std::u16string argumentToWide(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t cp = 0;
    const size_t n = decodeUtf8(bytes, &cp);
    if (n == 0) {
      out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[0]));
      bytes.remove_prefix(1);
    } else {
      appendUtf16(out, cp);
      bytes.remove_prefix(n);
    }
  }
  return out;
}

std::optional<std::string> nativePath(const std::u16string& path) {
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    const char16_t u = path[i];
    if (u == 0) break;
    if (const char32_t pair = surrogatePairAt(path, i)) {
      appendUtf8(out, pair);
      ++i;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - kEscapeBase);
    } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
      return std::nullopt;
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

// Libraries open files by the system's bytes here, like everything else.
std::optional<std::string> libraryPath(const std::u16string& path) { return nativePath(path); }

std::u16string joinPath(const std::u16string& directory, const std::u16string& name) {
  // A backslash is an ordinary character in a name here, never a separator.
  return directory + u'/' + name;
}

}  // namespace folio::platform
