// The rendering job through the real binary: the status lines, the exit
// code, the page files on disk and their decoded pixels.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "png_reader.h"
#include "render/page_file_name.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

std::string expectedLines(int total, int written, const std::string& last) {
  std::string lines = "START\t" + std::to_string(total) + "\n";
  for (int page = 1; page <= written; ++page) {
    lines += "PROGRESS\t" + std::to_string(page) + "\t" + std::to_string(total) + "\t" +
             render::makePageFileName(page, total) + "\n";
  }
  return lines + last + "\n";
}

PageSpec pageOfSize(double width, double height) {
  PageSpec spec;
  spec.width = width;
  spec.height = height;
  return spec;
}

std::vector<std::string> pageNames(int from, int to, int total) {
  std::vector<std::string> names;
  for (int page = from; page <= to; ++page) names.push_back(render::makePageFileName(page, total));
  return names;
}

class RenderJob : public testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directory(out()); }
  std::string out() const { return dir_ / "out"; }
  std::string page(const std::string& name) const { return out() + "/" + name; }
  RunResult run(const std::string& pdfBytes, const std::string& output = "") {
    writeFile(dir_ / "in.pdf", pdfBytes);
    return runFolio({"--input", dir_ / "in.pdf", "--output", output.empty() ? out() : output});
  }
  TempDir dir_;
};

TEST_F(RenderJob, EveryPageBecomesANamedFile) {
  for (int count : {1, 12}) {
    const std::vector<PageSpec> pages(count, pageOfSize(20, 20));
    const std::string output = dir_ / ("out" + std::to_string(count));
    std::filesystem::create_directory(output);
    const RunResult r = run(makePdf(pages), output);
    EXPECT_EQ(r.out, expectedLines(count, count, "DONE\t" + std::to_string(count)));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listDir(output), pageNames(1, count, count));
  }
}

TEST_F(RenderJob, AThousandPagesGetFourDigitNames) {
  const RunResult r = run(makePdf(std::vector<PageSpec>(1000, pageOfSize(1, 1))));
  EXPECT_EQ(r.out, expectedLines(1000, 1000, "DONE\t1000"));
  EXPECT_EQ(r.exitCode, 0);
  const std::vector<std::string> names = listDir(out());
  EXPECT_EQ(names, pageNames(1, 1000, 1000));
  EXPECT_EQ(names.front(), "page_0001.png");
  EXPECT_EQ(names.back(), "page_1000.png");
}

TEST_F(RenderJob, PagesAreDrawnTheWayTheyAreShown) {
  // A 200 x 100 point page with a red square in its lower left corner; the
  // page's rotation turns it clockwise, square and all.
  struct Case {
    int rotation;
    std::uint32_t width, height;
    bool squareAtTop, squareAtLeft;
  };
  const Case cases[] = {{0, 400, 200, false, true},
                        {1, 200, 400, true, true},
                        {2, 400, 200, true, false},
                        {3, 200, 400, false, false}};
  const std::vector<int> red{255, 0, 0}, white{255, 255, 255};
  for (const Case& c : cases) {
    const std::string output = dir_ / ("rotation" + std::to_string(c.rotation));
    std::filesystem::create_directory(output);
    PageSpec spec{200, 100, c.rotation, {{0, 0, 20, 20, 255, 0, 0}}};
    ASSERT_EQ(run(makePdf({spec}), output).exitCode, 0) << c.rotation;
    const std::string file = output + "/page_001.png";
    const DecodedPng png = decodePng(readFile(file));
    EXPECT_EQ(pngcheckProblems(file), "");
    ASSERT_EQ(png.width, c.width) << c.rotation;
    ASSERT_EQ(png.height, c.height) << c.rotation;
    EXPECT_EQ(png.colorType, 2);
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.physX, 5669u);
    EXPECT_EQ(png.physY, 5669u);
    EXPECT_EQ(png.physUnit, 1);
    // The square is 40 x 40 pixels; look well inside it and at the corners.
    const std::uint32_t inX = c.squareAtLeft ? 20 : png.width - 20;
    const std::uint32_t inY = c.squareAtTop ? 20 : png.height - 20;
    const std::uint32_t outX = c.squareAtLeft ? png.width - 1 : 0;
    const std::uint32_t outY = c.squareAtTop ? png.height - 1 : 0;
    EXPECT_EQ(png.at(inX, inY), red) << "rotation " << c.rotation;
    EXPECT_EQ(png.at(outX, outY), white) << "rotation " << c.rotation;
    EXPECT_EQ(png.at(outX, inY), white) << "rotation " << c.rotation;
    EXPECT_EQ(png.at(inX, outY), white) << "rotation " << c.rotation;
  }
}

TEST_F(RenderJob, PageSizesAndLimits) {
  struct Case {
    double width, height;
    std::uint32_t pixelsWide, pixelsHigh;  // 0: the page is too large
  };
  const Case cases[] = {{612, 792, 1224, 1584},  {595.276, 841.89, 1191, 1684},
                        {0.1, 0.1, 1, 1},        {2730.5, 8192.5, 0, 0},
                        {14400, 14400, 0, 0},    {2730.5, 8192, 5461, 16384}};
  for (const Case& c : cases) {
    const std::string output = dir_ / ("size" + std::to_string(c.width));
    std::filesystem::create_directory(output);
    const RunResult r = run(makePdf({pageOfSize(c.width, c.height)}), output);
    if (c.pixelsWide == 0) {
      EXPECT_EQ(r.out, "START\t1\nERROR\tPAGE_TOO_LARGE\n") << c.width << " x " << c.height;
      EXPECT_EQ(r.exitCode, 32);
      EXPECT_TRUE(listDir(output).empty());
      continue;
    }
    EXPECT_EQ(r.out, expectedLines(1, 1, "DONE\t1")) << c.width << " x " << c.height;
    const std::string bytes = readFile(output + "/page_001.png");
    if (c.pixelsWide * std::uint64_t{c.pixelsHigh} > 10'000'000) {
      // The 256 MiB page: its size in the header is enough; decoding it would
      // only make the test slow.
      ASSERT_GT(bytes.size(), 24u);
      const auto be32 = [&bytes](size_t at) {
        return std::uint32_t(std::uint8_t(bytes[at])) << 24 |
               std::uint32_t(std::uint8_t(bytes[at + 1])) << 16 |
               std::uint32_t(std::uint8_t(bytes[at + 2])) << 8 | std::uint8_t(bytes[at + 3]);
      };
      EXPECT_EQ(be32(16), c.pixelsWide);
      EXPECT_EQ(be32(20), c.pixelsHigh);
      continue;
    }
    const DecodedPng png = decodePng(bytes);
    EXPECT_EQ(png.width, c.pixelsWide);
    EXPECT_EQ(png.height, c.pixelsHigh);
    for (size_t i = 0; i < png.rgb.size(); ++i) ASSERT_EQ(png.rgb[i], 255) << "byte " << i;
  }
}

// The largest page allowed, between two ordinary ones: it is rendered and
// written alone, so the job holds its pixels and little else (two buffers
// of it, or the whole file in memory, would pass 500 MiB).
TEST_F(RenderJob, TheLargestPageIsWrittenAlone) {
  const RunResult r = run(makePdf({pageOfSize(595.276, 841.89), pageOfSize(2730.5, 8192),
                                   pageOfSize(595.276, 841.89)}));
  EXPECT_EQ(r.out, expectedLines(3, 3, "DONE\t3"));
  EXPECT_EQ(listDir(out()), pageNames(1, 3, 3));
#ifndef FOLIO_PEAK_MEMORY_INFLATED
  EXPECT_LT(r.peakKiB, 300 * 1024);
#endif
}

TEST_F(RenderJob, DocumentsThatDoNotOpen) {
  const std::string pdf = makePdf({PageSpec{}});
  writeFile(dir_ / "plain.pdf", pdf);
  const RunResult qpdf = runProgram({"/usr/bin/qpdf", "--encrypt", "user", "owner", "256", "--",
                                     dir_ / "plain.pdf", dir_ / "locked.pdf"});
  ASSERT_EQ(qpdf.exitCode, 0) << qpdf.err;
  // A security handler PDFium does not know.
  std::string unknownHandler = pdf;
  unknownHandler.insert(unknownHandler.find("<<", unknownHandler.rfind("trailer")) + 2,
                        "/Encrypt <</Filter /NoSuchHandler /V 2 /R 3 /Length 128 /P -4 "
                        "/O (0123456789abcdef0123456789abcdef) "
                        "/U (0123456789abcdef0123456789abcdef)>>");
  struct Case {
    std::string bytes;
    std::string out;
    int code;
  };
  const Case cases[] = {
      {"this is not a PDF at all\n", "ERROR\tPDF_DAMAGED\n", 21},
      {"", "ERROR\tPDF_DAMAGED\n", 21},
      {makePdf({}), "ERROR\tPDF_DAMAGED\n", 21},  // no pages: not even START
      {readFile(dir_ / "locked.pdf"), "ERROR\tPASSWORD_REQUIRED\n", 22},
      {unknownHandler, "ERROR\tSECURITY_UNSUPPORTED\n", 23},
  };
  for (const Case& c : cases) {
    const RunResult r = run(c.bytes);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exitCode, c.code);
    EXPECT_TRUE(listDir(out()).empty());
  }
}

TEST_F(RenderJob, APipeNamedLikeAPdfIsNotWaitedOn) {
  const std::string pipe = dir_ / "pipe.pdf";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const RunResult r = runFolio({"--input", pipe, "--output", out()});
  EXPECT_EQ(r.out, "ERROR\tCANNOT_READ\n");
  EXPECT_EQ(r.exitCode, 20);
}

TEST_F(RenderJob, AnExistingPageIsNeverReplaced) {
  writeFile(page("page_001.png"), "from an earlier run");
  const RunResult r = run(makePdf(std::vector<PageSpec>(3, pageOfSize(20, 20))));
  EXPECT_EQ(r.out, "START\t3\nERROR\tCANNOT_WRITE\n");
  EXPECT_EQ(r.exitCode, 31);
  EXPECT_EQ(readFile(page("page_001.png")), "from an earlier run");
  EXPECT_EQ(listDir(out()), std::vector<std::string>{"page_001.png"});
}

TEST_F(RenderJob, AStaleTemporaryFileIsReplaced) {
  writeFile(page("page_001.png.tmp"), "left by an interrupted run");
  const RunResult r = run(makePdf({pageOfSize(20, 20)}));
  EXPECT_EQ(r.out, expectedLines(1, 1, "DONE\t1"));
  EXPECT_EQ(listDir(out()), std::vector<std::string>{"page_001.png"});
  EXPECT_EQ(decodePng(readFile(page("page_001.png"))).width, 40u);
}

// Page k fails while page k + 1 may already be rendered: pages 1 to k - 1
// are named and reported, and nothing else is left. A page that cannot be
// written counts before the next page's own failure.
TEST_F(RenderJob, AFailureKeepsTheEarlierPagesAndEndsTheJob) {
  struct Case {
    const char* what;
    int inTheWay;  // a file already at this page's name, 0 for none
    int tooLarge;  // a page refused for its size, 0 for none
    int reported;
    const char* last;
  };
  const Case cases[] = {
      {"page 5 cannot be created", 5, 0, 4, "ERROR\tCANNOT_WRITE"},
      {"the last page cannot be created", 10, 0, 9, "ERROR\tCANNOT_WRITE"},
      {"page 5 cannot be created, page 6 is too large", 5, 6, 4, "ERROR\tCANNOT_WRITE"},
      {"page 5 is too large", 0, 5, 4, "ERROR\tPAGE_TOO_LARGE"},
  };
  for (const Case& c : cases) {
    const std::string output = dir_ / c.what;
    std::filesystem::create_directory(output);
    const std::string inTheWay = output + "/" + render::makePageFileName(c.inTheWay, 10);
    if (c.inTheWay) writeFile(inTheWay, "in the way");
    std::vector<PageSpec> pages(10, pageOfSize(20, 20));
    if (c.tooLarge) pages[c.tooLarge - 1] = pageOfSize(14400, 14400);
    const RunResult r = run(makePdf(pages), output);
    EXPECT_EQ(r.out, expectedLines(10, c.reported, c.last)) << c.what;
    EXPECT_EQ(r.exitCode, std::string(c.last) == "ERROR\tPAGE_TOO_LARGE" ? 32 : 31) << c.what;
    std::vector<std::string> expected = pageNames(1, c.reported, 10);
    if (c.inTheWay) expected.push_back(render::makePageFileName(c.inTheWay, 10));
    EXPECT_EQ(listDir(output), expected) << c.what;
    for (int page = 1; page <= c.reported; ++page) {
      EXPECT_EQ(decodePng(readFile(output + "/" + render::makePageFileName(page, 10))).width, 40u);
    }
    if (c.inTheWay) {
      EXPECT_EQ(readFile(inTheWay), "in the way");
    }
  }
}

TEST_F(RenderJob, ATrailingSeparatorOnTheDirectoryWorks) {
  const RunResult r = run(makePdf({pageOfSize(20, 20)}), out() + "/");
  EXPECT_EQ(r.out, expectedLines(1, 1, "DONE\t1"));
  EXPECT_EQ(listDir(out()), std::vector<std::string>{"page_001.png"});
}

// A small file system of its own, so that a disk can fill for real. Mounting
// needs root, which every machine that runs these tests grants.
class TmpfsMount {
 public:
  TmpfsMount(const std::string& path, const std::string& options) : path_(path) {
    std::filesystem::create_directory(path);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      error_ = std::strerror(errno);
    }
  }
  ~TmpfsMount() {
    if (error_.empty()) umount2(path_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  std::string error_;
};

TEST_F(RenderJob, AFullDiskIsReportedAndLeavesNoPartialPage) {
  // Two small pages fit; the third, 1.4 MB of noise to encode, does not. The
  // small pages after it are rendered while it is still being written, and
  // none of them may appear.
  const std::string pdf = makeNoisePdf({{40, 40}, {40, 40}, {400, 400}, {40, 40}, {40, 40}});
  const TmpfsMount disk(dir_ / "disk", "size=512k");
  ASSERT_EQ(disk.error(), "") << "cannot mount a tmpfs for the full-disk test (root needed)";
  const RunResult r = run(pdf, dir_ / "disk");
  EXPECT_EQ(r.out, expectedLines(5, 2, "ERROR\tDISK_FULL"));
  EXPECT_EQ(r.exitCode, 31);
  EXPECT_EQ(listDir(dir_ / "disk"), pageNames(1, 2, 5));
  for (const std::string& name : pageNames(1, 2, 5)) {
    EXPECT_EQ(decodePng(readFile(dir_ / "disk/" + name)).width, 80u);
  }
}

}  // namespace
}  // namespace folio::test
