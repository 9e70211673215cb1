#include "assemble/xref_mender.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <vector>

#include "assemble/save_pdf_to_file.h"

namespace folio::assemble {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// Objects 1 to 3 as PDFium lays them out, the second a stream of `data` and
// then `zeros` zero bytes; the table as PDFium prints it (each offset a signed
// 32-bit number) and as it must read.
struct Layout {
  std::string head;
  std::uint64_t zeros;
  std::string tail, printed, mended;
};

Layout layOut(const std::string& data, std::uint64_t zeros) {
  Layout d{"%PDF-1.7\r\n%\xA1\xB3\xC5\xD7\r\n", zeros, "", "", ""};
  std::vector<std::uint64_t> at{d.head.size()};
  d.head += "1 0 obj\r\n<</Pages 2 0 R>>\r\nendobj\r\n";
  at.push_back(d.head.size());
  d.head += "2 0 obj\r\n<</Length " + std::to_string(data.size() + zeros) + ">>stream\r\n" + data;
  d.tail = "\r\nendstream\r\nendobj\r\n";
  at.push_back(d.head.size() + zeros + d.tail.size());
  d.tail += "3 0 obj\r\n<<>>\r\nendobj\r\n";
  const std::string end = "trailer\r\n<<\r\n/Root 1 0 R\r\n/Size 4>>\r\nstartxref\r\n" +
                          std::to_string(d.head.size() + zeros + d.tail.size()) + "\r\n%%EOF\r\n";
  d.printed = d.mended = "xref\r\n0 4\r\n0000000000 65535 f\r\n";
  for (const std::uint64_t offset : at) {
    char line[32];
    std::snprintf(line, sizeof line, "%010d 00000 n\r\n", std::int32_t(std::uint32_t(offset)));
    d.printed += line;
    std::snprintf(line, sizeof line, "%010llu 00000 n\r\n", (unsigned long long)offset);
    d.mended += line;
  }
  d.printed += end;
  d.mended += end;
  return d;
}

TEST(XrefMender, EachEntryPointsAtItsObjectOrTheSaveIsRefused) {
  // Stream data that looks like an object header and a table's start.
  const std::string lookalikes = "\r\n3 0 obj\r\n\r\nxref\r\n0 1\r\n";
  struct Case {
    const char* what;
    std::string data;
    std::uint64_t zeros;
    size_t block;
    bool mended, refused;
  };
  const Case cases[] = {
      {"under 2 GiB: as printed", lookalikes, 1000, 1, false, false},
      {"past 2 GiB: negative offsets", lookalikes, 2 * kGiB, 7, true, false},
      {"past 4 GiB: offsets wrapped round", lookalikes, 4 * kGiB + 5, 20, true, false},
      // A header of object 3 in the data exactly 4 GiB before the real one:
      // the printed offset fits both.
      {"two headers 4 GiB apart", "\r\n3 0 obj\r\n", 4 * kGiB - 30, 3, false, true},
  };
  static const std::vector<char> zeros(1 << 20);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Layout d = layOut(c.data, c.zeros);
    const std::uint64_t keepFrom = d.head.size() + d.zeros;
    std::uint64_t size = 0;
    std::string tail;  // what comes out after the zeros
    XrefMender mender([&](const char* data, size_t n) {
      const size_t skip = size_t(std::min<std::uint64_t>(n, keepFrom - std::min(keepFrom, size)));
      tail.append(data + skip, n - skip);
      size += n;
      return true;
    });
    // The text in blocks of c.block bytes, the zeros a mebibyte at a time.
    const auto text = [&](const std::string& s) {
      for (size_t i = 0; i < s.size(); i += c.block) {
        EXPECT_TRUE(mender.write(s.data() + i, std::min(c.block, s.size() - i)));
      }
    };
    text(d.head);
    for (std::uint64_t left = d.zeros, n; left > 0; left -= n) {
      EXPECT_TRUE(mender.write(zeros.data(), n = std::min<std::uint64_t>(left, zeros.size())));
    }
    text(d.tail + d.printed);
    EXPECT_EQ(mender.finish(), !c.refused);
    EXPECT_EQ(mender.refused(), c.refused);
    if (c.refused) continue;
    const std::string& table = c.mended ? d.mended : d.printed;
    EXPECT_EQ(tail, d.tail + table);
    EXPECT_EQ(size, keepFrom + d.tail.size() + table.size());
  }
  // What the writing throws stays out of PDFium: the block is refused, the throw kept.
  XrefMender throwing([](const char*, size_t) -> bool { throw std::bad_alloc(); });
  PdfFileSink sink{{1, writeBlockToFile}, &throwing, nullptr};
  EXPECT_EQ(writeBlockToFile(&sink.header, "%PDF-1.7\r\n", 10), 0);
  EXPECT_TRUE(sink.thrown);
}

}  // namespace
}  // namespace folio::assemble
