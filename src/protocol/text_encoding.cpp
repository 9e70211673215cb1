#include "protocol/text_encoding.h"

#include <stdexcept>

#include "platform/unicode.h"

namespace folio::protocol {
namespace {

[[noreturn]] void fail() { throw std::runtime_error("character conversion failed"); }

}  // namespace

std::string wideToUtf8(const std::u16string& text) {
  std::string out;
  if (text.empty()) return out;
  // Measured first, so that the result is one exact allocation.
  size_t size = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (const char32_t pair = platform::surrogatePairAt(text, i)) {
      size += platform::utf8Length(pair);
      ++i;
    } else if (platform::isHighSurrogate(text[i]) || platform::isLowSurrogate(text[i])) {
      fail();
    } else {
      size += platform::utf8Length(text[i]);
    }
  }
  out.reserve(size);
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t pair = platform::surrogatePairAt(text, i);
    platform::appendUtf8(out, pair ? pair : text[i]);
    if (pair) ++i;
  }
  if (out.size() != size) fail();
  return out;
}

std::u16string utf8ToWide(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  std::string_view rest(text);
  while (!rest.empty()) {
    char32_t cp = 0;
    const size_t n = platform::decodeUtf8(rest, &cp);
    if (n == 0) fail();
    platform::appendUtf16(out, cp);
    rest.remove_prefix(n);
  }
  return out;
}

}  // namespace folio::protocol
