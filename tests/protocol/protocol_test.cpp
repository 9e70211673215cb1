// The list file reader, the strict text conversions and the mapping between
// the system's path bytes and UTF-16, tried directly with hand-made input.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/native_path_posix.h"
#include "protocol/image_list.h"
#include "protocol/text_encoding.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

// What a refused list leaves in the caller's vector: what was there.
const std::vector<std::u16string> kUntouched{u"left", u"alone"};

TEST(ImageList, EveryFileGivesItsEntriesInOrderOrNothing) {
  const std::u16string longest(32767, u'y'), withZero(u"a\0b.png", 7),
      accents(u"\u00e9t\u00e9/\U0001F600.png");
  const std::u16string loneSurrogate{u'x', 0xD800};
  const std::vector<std::u16string> tenThousand(10000, u"img.png");
  const std::string one = le32(5) + le16('a') + le16('.') + le16('p') + le16('n') + le16('g');
  std::string tenUnits;  // "0123456789"
  for (char digit = '0'; digit <= '9'; ++digit) tenUnits += le16(digit);
  const std::pair<std::string, std::vector<std::u16string>> cases[] = {
      {"", kUntouched},             // an empty file
      {"\x01\x00", kUntouched},     // the count cut short
      {le32(0) + one, kUntouched},  // count 0 with entries
      {imageListBytes(std::vector<std::u16string>(10001, u"a")), kUntouched},
      {std::string("\0\0\0\1", 4) + one, kUntouched},  // a big-endian count
      {le32(1) + le32(0), kUntouched},                 // length 0
      {imageListBytes({std::u16string(32768, u'x')}), kUntouched},
      {le32(2) + one + "\x05\x00", kUntouched},        // cut inside a length
      {le32(1) + one.substr(0, 9), kUntouched},        // cut inside a text
      {le32(3) + one + one, kUntouched},               // fewer entries than counted
      {le32(1) + le32(20) + tenUnits, kUntouched},     // the length counted in bytes
      {le32(10000) + le32(32767) + "ab", kUntouched},  // a huge list announced, a short file
      {le32(1) + one, {u"a.png"}},
      {imageListBytes({u"x"}), {u"x"}},
      {imageListBytes({longest}), {longest}},
      {imageListBytes({u"b", u"a", u"b"}), {u"b", u"a", u"b"}},
      {imageListBytes({u"c.jpg"}) + "trailing bytes", {u"c.jpg"}},
      {imageListBytes({withZero, loneSurrogate, accents}), {withZero, loneSurrogate, accents}},
      {imageListBytes(tenThousand), tenThousand}};
  TempDir dir;
  for (size_t i = 0; i < std::size(cases); ++i) {
    writeFile(dir / "list", cases[i].first);
    auto images = kUntouched;
    EXPECT_EQ(protocol::readImageList(wide(dir / "list"), images), cases[i].second != kUntouched);
    EXPECT_TRUE(images == cases[i].second) << "row " << i;
  }
}

TEST(TextEncoding, WellFormedTextRoundTripsAndLoneSurrogatesThrow) {
  const std::pair<std::u16string, std::string> wellFormed[] = {
      {u"", ""},
      {u"caf\u00e9", "caf\xC3\xA9"},
      {u"\u20ac", "\xE2\x82\xAC"},
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},  // U+1F600: 2 units, 4 bytes
      {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
      {{0xFFFF, 0x0800, 0x07FF}, "\xEF\xBF\xBF\xE0\xA0\x80\xDF\xBF"}};
  for (const auto& [utf16, utf8] : wellFormed) {
    EXPECT_EQ(protocol::wideToUtf8(utf16), utf8);
    EXPECT_EQ(protocol::utf8ToWide(utf8), utf16);
  }
  // Lone, reversed and escaped-byte surrogates are not text.
  for (const std::u16string& text : std::vector<std::u16string>{
           {0xD800}, {0xDC00}, {u'a', 0xDBFF, u'b'}, {0xDC00, 0xD800}, {0xDCE9}}) {
    EXPECT_THROW(protocol::wideToUtf8(text), std::runtime_error) << text.size();
  }
}

// Every byte string must come back unchanged, or a file named on the command
// line would not be the file the worker opens.
TEST(NativePath, EveryByteStringRoundTrips) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  for (const std::string& bytes :
       {std::string("plain/ascii.pdf"), std::string("caf\xC3\xA9.pdf"),
        std::string("\xE9t\xE9.pdf"), std::string("\xF0\x9F\x98\x80.png"),
        std::string("\xED\xA0\x80"), std::string("\xC3"), std::string("\xE2\x82x"),
        std::string("\x80\xFF\xC0\xAF"), all}) {
    EXPECT_EQ(platform::nativePath(platform::argumentToWide(bytes)), bytes);
  }
  EXPECT_EQ(platform::argumentToWide("\xE9"), std::u16string{0xDCE9});
  EXPECT_EQ(platform::argumentToWide("\xC3\xA9"), u"\u00e9");
  EXPECT_EQ(platform::nativePath({0xD800}), std::nullopt);
  EXPECT_EQ(platform::nativePath({0xDC20}), std::nullopt);
  EXPECT_EQ(platform::nativePath(std::u16string(u"ab\0cd", 5)), "ab");  // cut at the zero unit
}

}  // namespace
}  // namespace folio::test
