#include "assemble/xref_mender.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

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

// Fed in blocks of `block` bytes, the zeros a mebibyte at a time: whether it
// finished, how many bytes came out and those after the zeros.
struct Fed {
  bool finished;
  std::uint64_t size;
  std::string tail;
};

Fed feed(const Layout& d, size_t block) {
  const std::uint64_t keepFrom = d.head.size() + d.zeros;
  Fed out{false, 0, ""};
  XrefMender mender([&](const char* data, size_t size) {
    if (out.size + size > keepFrom) {
      const std::uint64_t skip = keepFrom > out.size ? keepFrom - out.size : 0;
      out.tail.append(data + skip, size - skip);
    }
    out.size += size;
    return true;
  });
  const auto text = [&](const std::string& s) {
    for (size_t i = 0; i < s.size(); i += block) {
      EXPECT_TRUE(mender.write(s.data() + i, std::min(block, s.size() - i)));
    }
  };
  static const std::vector<char> zeros(1 << 20);
  text(d.head);
  for (std::uint64_t left = d.zeros; left > 0; left -= std::min<std::uint64_t>(left, 1 << 20)) {
    EXPECT_TRUE(mender.write(zeros.data(), std::min<std::uint64_t>(left, zeros.size())));
  }
  text(d.tail + d.printed);
  out.finished = mender.finish();
  EXPECT_EQ(mender.refused(), !out.finished);
  return out;
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Layout d = layOut(c.data, c.zeros);
    const Fed out = feed(d, c.block);
    EXPECT_EQ(out.finished, !c.refused);
    if (c.refused) continue;
    const std::string& table = c.mended ? d.mended : d.printed;
    EXPECT_EQ(out.tail, d.tail + table);
    EXPECT_EQ(out.size, d.head.size() + d.zeros + d.tail.size() + table.size());
  }
}

}  // namespace
}  // namespace folio::assemble
