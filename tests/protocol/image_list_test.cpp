#include <gtest/gtest.h>

#include <cstdint>

#include "protocol/image_list.h"
#include "support/temp_dir.h"

namespace folio::protocol {
namespace {

using test::TempDir;

std::string u32(std::uint32_t v) {
  return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

std::string entry(const std::u16string& path, std::uint32_t length) {
  std::string out = u32(length);
  for (char16_t u : path) out += {char(u & 0xFF), char(u >> 8)};
  return out;
}
std::string entry(const std::u16string& path) {
  return entry(path, static_cast<std::uint32_t>(path.size()));
}

std::string listOf(std::uint32_t count, const std::u16string& path) {
  std::string out = u32(count);
  for (std::uint32_t i = 0; i < count; ++i) out += entry(path);
  return out;
}

const std::vector<std::u16string> kSentinel{u"left", u"alone"};

TEST(ImageList, InvalidFilesLeaveTheVectorUntouched) {
  const std::u16string longPath(32768, u'x');
  const std::string tenChars = entry(u"0123456789");
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"count cut short", "\x01\x00"},
      {"count 0 with entries", u32(0) + entry(u"a.png")},
      {"count 10001", listOf(10001, u"a")},
      {"big-endian count 1", std::string("\0\0\0\1", 4) + entry(u"a.png")},
      {"length 0", u32(1) + u32(0)},
      {"length 32768", u32(1) + entry(longPath)},
      {"cut inside a length", u32(2) + entry(u"a.png") + "\x05\x00"},
      {"cut inside a text", u32(1) + entry(u"a.png").substr(0, 9)},
      {"fewer entries than counted", u32(3) + entry(u"a.png") + entry(u"b.png")},
      {"length counted in bytes", u32(1) + u32(20) + tenChars.substr(4)},
      {"huge announced list, short file", u32(10000) + u32(32767) + "ab"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    test::writeFile(dir / "list", c.bytes);
    auto images = kSentinel;
    EXPECT_FALSE(readImageList(dir.path().u16string() + u"/list", images)) << c.what;
    EXPECT_EQ(images, kSentinel) << c.what;
  }
}

TEST(ImageList, ValidFilesGiveEveryEntryInOrder) {
  const std::u16string longest(32767, u'y');
  const std::u16string withZero(u"a\0b.png", 7);
  const std::u16string loneSurrogate{u'x', char16_t(0xD800)};
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::u16string> expected;
  };
  const Case cases[] = {
      {"one entry", u32(1) + entry(u"a.png"), {u"a.png"}},
      {"one-unit entry", u32(1) + entry(u"x"), {u"x"}},
      {"longest entry", u32(1) + entry(longest), {longest}},
      {"duplicates kept in order", u32(3) + entry(u"b") + entry(u"a") + entry(u"b"),
       {u"b", u"a", u"b"}},
      {"trailing bytes ignored", u32(1) + entry(u"c.jpg") + "garbage", {u"c.jpg"}},
      {"text taken unchanged", u32(2) + entry(withZero) + entry(loneSurrogate),
       {withZero, loneSurrogate}},
      {"non-ASCII", u32(1) + entry(u"\u00e9t\u00e9/\U0001F600.png"), {u"\u00e9t\u00e9/\U0001F600.png"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    test::writeFile(dir / "list", c.bytes);
    auto images = kSentinel;
    EXPECT_TRUE(readImageList(dir.path().u16string() + u"/list", images)) << c.what;
    EXPECT_EQ(images, c.expected) << c.what;
  }
}

TEST(ImageList, TenThousandEntriesAreTheLimit) {
  TempDir dir;
  test::writeFile(dir / "list", listOf(10000, u"img.png"));
  std::vector<std::u16string> images;
  ASSERT_TRUE(readImageList(dir.path().u16string() + u"/list", images));
  EXPECT_EQ(images.size(), 10000u);
  EXPECT_EQ(images.back(), u"img.png");
}

TEST(ImageList, PathsThatAreNotFiles) {
  TempDir dir;
  std::vector<std::u16string> images = kSentinel;
  EXPECT_FALSE(readImageList(dir.path().u16string(), images));  // a directory
  EXPECT_FALSE(readImageList(dir.path().u16string() + u"/missing", images));
  EXPECT_EQ(images, kSentinel);
}

}  // namespace
}  // namespace folio::protocol
