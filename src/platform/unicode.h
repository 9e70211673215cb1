// Code point helpers shared by the strict text conversions and by the lossless
// argument and path mapping. Pure functions, no system calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace folio::platform {

// Length of the well-formed UTF-8 sequence at the start of s (1 to 4), with
// its code point in *out; 0 when s does not start with one (stray
// continuation bytes, truncated or overlong forms, encoded surrogates, values
// beyond U+10FFFF).
inline size_t decodeUtf8(std::string_view s, char32_t* out) {
  if (s.empty()) return 0;
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) {
    *out = c;
    return 1;
  }
  size_t n;
  char32_t cp;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    const unsigned char t = b(i);
    if (i == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  *out = cp;
  return n;
}

inline size_t utf8Length(char32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

inline void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

inline void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  } else {
    out += static_cast<char16_t>(cp);
  }
}

inline bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point of the surrogate pair at text[i], or 0 when there is none.
inline char32_t surrogatePairAt(const std::u16string& text, size_t i) {
  if (!isHighSurrogate(text[i]) || i + 1 >= text.size() || !isLowSurrogate(text[i + 1])) return 0;
  return 0x10000 + ((char32_t(text[i]) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
}

}  // namespace folio::platform
