#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/text_encoding.h"

namespace folio::protocol {
namespace {

TEST(TextEncoding, WellFormedTextRoundTrips) {
  struct Case {
    std::u16string wide;
    std::string utf8;
  };
  const Case cases[] = {
      {u"", ""},
      {u"page_001.png", "page_001.png"},
      {u"caf\u00e9", "caf\xC3\xA9"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {u"\U0001F600", "\xF0\x9F\x98\x80"},  // 2 units, 4 bytes
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {u"\uffff\u0800\u07ff", "\xEF\xBF\xBF\xE0\xA0\x80\xDF\xBF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wideToUtf8(c.wide), c.utf8);
    EXPECT_EQ(utf8ToWide(c.utf8), c.wide);
  }
  EXPECT_EQ(utf8ToWide("\xF0\x9F\x98\x80").size(), 2u);
}

template <typename F>
void expectConversionFailure(F convert) {
  try {
    convert();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "character conversion failed");
  }
}

TEST(TextEncoding, MalformedUtf16Throws) {
  const std::u16string cases[] = {
      {char16_t(0xD800)},             // lone high surrogate
      {char16_t(0xDC00)},             // lone low surrogate
      {u'a', char16_t(0xDBFF), u'b'}, // high surrogate followed by a letter
      {char16_t(0xDC00), char16_t(0xD800)},  // pair in the wrong order
      {char16_t(0xDCE9)},             // an escaped raw byte is not text
  };
  for (const auto& text : cases) expectConversionFailure([&] { wideToUtf8(text); });
}

TEST(TextEncoding, MalformedUtf8Throws) {
  const std::string cases[] = {
      "\xFF",              // never valid
      "\x80",              // lone continuation byte
      "\xC3",              // truncated two-byte sequence
      "\xE2\x82",          // truncated three-byte sequence
      "\xC0\xAF",          // overlong slash
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xF0\x80\x80\xAF",  // overlong, four bytes
      "\xED\xA0\x80",      // encoded high surrogate
      "\xED\xBF\xBF",      // encoded low surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "ok\xE9",            // Latin-1 after good text
  };
  for (const auto& text : cases) expectConversionFailure([&] { utf8ToWide(text); });
}

}  // namespace
}  // namespace folio::protocol
