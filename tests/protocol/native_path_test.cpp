// The lossless mapping between the system's path bytes and UTF-16: every byte
// string must come back unchanged, or a file named on the command line would
// not be the file the worker opens.
#include <gtest/gtest.h>

#include "platform/native_path_posix.h"

namespace folio::platform {
namespace {

TEST(NativePath, EveryByteStringRoundTrips) {
  const std::string cases[] = {
      "plain/ascii.pdf",
      "caf\xC3\xA9.pdf",
      "\xE9t\xE9.pdf",            // Latin-1 bytes
      "\xF0\x9F\x98\x80.png",     // four-byte UTF-8
      "\xED\xA0\x80",             // encoded surrogate: bytes, not text
      "\xC3",                     // truncated sequence at the end
      "\xE2\x82x",                // truncated sequence before a letter
      "\x80\xFF\xC0\xAF",         // stray and overlong bytes
  };
  for (const auto& bytes : cases) {
    const auto back = nativePath(argumentToWide(bytes));
    ASSERT_TRUE(back.has_value()) << bytes;
    EXPECT_EQ(*back, bytes);
  }
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(nativePath(argumentToWide(all)), all);
}

TEST(NativePath, BytesThatAreNotUtf8BecomeEscapes) {
  EXPECT_EQ(argumentToWide("\xE9"), std::u16string(1, char16_t(0xDCE9)));
  EXPECT_EQ(argumentToWide("\xC3\xA9"), u"\u00e9");
}

TEST(NativePath, UnmappableAndCutPaths) {
  EXPECT_FALSE(nativePath(std::u16string(1, char16_t(0xD800))).has_value());
  EXPECT_FALSE(nativePath(std::u16string(1, char16_t(0xDC20))).has_value());
  EXPECT_EQ(nativePath(std::u16string(u"ab\0cd", 5)), "ab");  // cut at the zero unit
}

}  // namespace
}  // namespace folio::platform
