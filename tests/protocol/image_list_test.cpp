#include <gtest/gtest.h>

#include <cstdint>

#include "protocol/image_list.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

namespace folio::protocol {
namespace {

using test::imageListBytes;
using test::imageListEntry;
using test::le32;
using test::TempDir;

std::string listOf(std::uint32_t count, const std::u16string& path) {
  return imageListBytes(std::vector<std::u16string>(count, path));
}

const std::vector<std::u16string> kSentinel{u"left", u"alone"};

TEST(ImageList, InvalidFilesLeaveTheVectorUntouched) {
  const std::u16string longPath(32768, u'x');
  const std::string tenChars = imageListEntry(u"0123456789");
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"count cut short", "\x01\x00"},
      {"count 0 with entries", le32(0) + imageListEntry(u"a.png")},
      {"count 10001", listOf(10001, u"a")},
      {"big-endian count 1", std::string("\0\0\0\1", 4) + imageListEntry(u"a.png")},
      {"length 0", le32(1) + le32(0)},
      {"length 32768", le32(1) + imageListEntry(longPath)},
      {"cut inside a length", le32(2) + imageListEntry(u"a.png") + "\x05\x00"},
      {"cut inside a text", le32(1) + imageListEntry(u"a.png").substr(0, 9)},
      {"fewer entries than counted", le32(3) + imageListEntry(u"a.png") + imageListEntry(u"b.png")},
      {"length counted in bytes", le32(1) + le32(20) + tenChars.substr(4)},
      {"huge announced list, short file", le32(10000) + le32(32767) + "ab"},
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
      {"one entry", imageListBytes({u"a.png"}), {u"a.png"}},
      {"one-unit entry", imageListBytes({u"x"}), {u"x"}},
      {"longest entry", imageListBytes({longest}), {longest}},
      {"duplicates kept in order", imageListBytes({u"b", u"a", u"b"}), {u"b", u"a", u"b"}},
      {"trailing bytes ignored", imageListBytes({u"c.jpg"}) + "garbage", {u"c.jpg"}},
      {"text taken unchanged", imageListBytes({withZero, loneSurrogate}),
       {withZero, loneSurrogate}},
      {"non-ASCII", imageListBytes({u"\u00e9t\u00e9/\U0001F600.png"}),
       {u"\u00e9t\u00e9/\U0001F600.png"}},
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
