#include "assemble/display_name.h"

#include <gtest/gtest.h>

namespace folio::assemble {
namespace {

TEST(DisplayName, TextAfterTheLastSeparator) {
  struct Case {
    std::u16string path;
    std::string name;
  };
  const Case cases[] = {
      {u"/scans/2024/page.jpg", "page.jpg"},
      {u"C:\\scans\\page.jpg", "page.jpg"},
      {u"C:\\scans/mixed\\last.png", "last.png"},  // backslash comes last
      {u"C:/scans\\mixed/last.png", "last.png"},   // slash comes last
      {u"photo.png", "photo.png"},                 // no separator: the whole path
      {u"/scans/", ""},                            // trailing separator: empty name
      {u"/scans/\u00e9t\u00e9.jpg", "\xC3\xA9t\xC3\xA9.jpg"},
      {u"/scans/\U0001F600.png", "\xF0\x9F\x98\x80.png"},
      {std::u16string(u"/d/\xDCE9t.jpg"), "image"},                // a raw byte, not text
      {std::u16string{u'/', char16_t(0xD800), u'x'}, "image"},     // unpaired surrogate
      {std::u16string{char16_t(0xD800), u'/', u'o', u'k'}, "ok"},  // only the last part counts
      {u"/d/tab\there.png", "image"},
      {u"/d/x\nDONE\t5", "image"},  // would forge a status line
      {u"/d/cr\r.png", "image"},
  };
  for (const Case& c : cases) EXPECT_EQ(displayNameOf(c.path), c.name);
}

}  // namespace
}  // namespace folio::assemble
