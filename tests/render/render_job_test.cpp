// The rendering job through the real binary: the status lines, the exit
// code, the page files on disk and their decoded pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "png_reader.h"
#include "support/bytes.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/tmpfs.h"

namespace folio::test {
namespace {

// Page names written down here, never asked of the worker: the number padded
// with zeros to `digits`.
std::string pageName(int page, int digits = 3) {
  char name[32];
  std::snprintf(name, sizeof name, "page_%0*d.png", digits, page);
  return name;
}

std::vector<std::string> pageNames(int last, int digits = 3) {
  std::vector<std::string> names;
  for (int page = 1; page <= last; ++page) names.push_back(pageName(page, digits));
  return names;
}

// START, a PROGRESS line for each of the first `written` pages, then `last`.
std::string statusLines(int total, int written, const std::string& last, int digits = 3) {
  std::string lines = "START\t" + std::to_string(total) + "\n";
  for (int page = 1; page <= written; ++page) {
    lines += "PROGRESS\t" + std::to_string(page) + "\t" + std::to_string(total) + "\t" +
             pageName(page, digits) + "\n";
  }
  return lines + last + "\n";
}

std::vector<PageSpec> pages(int count, double width = 20, double height = 20) {
  return std::vector<PageSpec>(count, PageSpec{width, height});
}

class RenderJob : public testing::Test {
 protected:
  // Renders the document into the new folder `out`.
  RunResult run(const std::string& pdfBytes, const std::string& out) {
    std::filesystem::create_directories(dir_ / out);
    writeFile(dir_ / "in.pdf", pdfBytes);
    return runFolio({"--input", dir_ / "in.pdf", "--output", dir_ / out});
  }
  TempDir dir_;
};

TEST_F(RenderJob, EveryPageBecomesANamedFile) {
  const std::tuple<int, int, const char*, const char*> cases[] = {
      {1, 3, "page_001.png", "page_001.png"},
      {12, 3, "page_001.png", "page_012.png"},
      {1000, 4, "page_0001.png", "page_1000.png"}};
  for (const auto& [count, digits, first, last] : cases) {
    const std::string out = "out" + std::to_string(count);
    const RunResult r = run(makePdf(pages(count, count == 1000 ? 1 : 20)), out);
    EXPECT_EQ(r.out, statusLines(count, count, "DONE\t" + std::to_string(count), digits));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> names = listDir(dir_ / out);
    EXPECT_EQ(names, pageNames(count, digits));
    EXPECT_EQ(names.front() + " " + names.back(), std::string(first) + " " + last);
  }
}

TEST_F(RenderJob, PagesAreDrawnTheWayTheyAreShown) {
  // A 200 x 100 point page with a 40 x 40 pixel red square in its lower left
  // corner; the page's rotation turns it clockwise, square and all.
  const std::tuple<int, std::uint32_t, std::uint32_t, bool, bool> cases[] = {
      {0, 400, 200, false, true},
      {1, 200, 400, true, true},
      {2, 400, 200, true, false},
      {3, 200, 400, false, false}};
  const std::vector<int> red{255, 0, 0}, white{255, 255, 255};
  for (const auto& [rotation, width, height, atTop, atLeft] : cases) {
    const std::string out = "rotation" + std::to_string(rotation);
    ASSERT_EQ(run(makePdf({{200, 100, rotation, {{0, 0, 20, 20, 255, 0, 0}}}}), out).exitCode, 0);
    const std::string file = dir_ / (out + "/page_001.png");
    EXPECT_EQ(pngcheckProblems(file), "");
    const DecodedPng png = decodePng(readFile(file));
    ASSERT_EQ(png.width, width) << rotation;
    ASSERT_EQ(png.height, height) << rotation;
    // 8-bit truecolour at 144 dpi, in pixels per metre.
    EXPECT_EQ(std::vector<std::uint32_t>(
                  {png.bitDepth, png.colorType, png.physX, png.physY, png.physUnit}),
              std::vector<std::uint32_t>({8, 2, 5669, 5669, 1}));
    const std::uint32_t inX = atLeft ? 20 : width - 20, inY = atTop ? 20 : height - 20;
    const std::uint32_t outX = atLeft ? width - 1 : 0, outY = atTop ? height - 1 : 0;
    EXPECT_EQ(png.at(inX, inY), red) << "rotation " << rotation;
    EXPECT_EQ(png.at(outX, outY), white) << "rotation " << rotation;
    EXPECT_EQ(png.at(outX, inY), white) << "rotation " << rotation;
    EXPECT_EQ(png.at(inX, outY), white) << "rotation " << rotation;
  }
}

TEST_F(RenderJob, PageSizesAndLimits) {
  // Pixel sizes at 2 pixels a point, 0 x 0 for a page too large to render.
  const std::tuple<double, double, std::uint32_t, std::uint32_t> cases[] = {
      {612, 792, 1224, 1584},
      {595.276, 841.89, 1191, 1684},
      {0.1, 0.1, 1, 1},
      {2730.5, 8192.5, 0, 0},
      {14400, 14400, 0, 0}};
  for (const auto& [width, height, pixelsWide, pixelsHigh] : cases) {
    const std::string out = "size" + std::to_string(width) + "x" + std::to_string(height);
    const RunResult r = run(makePdf(pages(1, width, height)), out);
    if (pixelsWide == 0) {
      EXPECT_EQ(r.out, "START\t1\nERROR\tPAGE_TOO_LARGE\n") << out;
      EXPECT_EQ(r.exitCode, 32);
      EXPECT_TRUE(listDir(dir_ / out).empty());
      continue;
    }
    EXPECT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\tpage_001.png\nDONE\t1\n") << out;
    const DecodedPng png = decodePng(readFile(dir_ / (out + "/page_001.png")));
    EXPECT_EQ(png.width, pixelsWide);
    EXPECT_EQ(png.height, pixelsHigh);
    EXPECT_EQ(png.rgb, std::vector<std::uint8_t>(pixelsWide * 3 * pixelsHigh, 255));
  }
}

// The largest pages allowed, the tallest and the widest (89 million by 1
// pixels), between ordinary ones: each is rendered and written alone, and
// the job holds its 256 MiB of pixels and a few MiB more (two buffers of
// it, the whole file in memory or rows copied whole would pass 500 MiB).
TEST_F(RenderJob, TheLargestPagesAreWrittenAlone) {
  const PageSpec a4{595.276, 841.89};
  std::string skipped;
  const std::uint32_t widest =
      leftOutOnWindows(&skipped, "a page 89478480 pixels wide",
                       "Wine's PNG encoder, on libpng, refuses rows of more than 1,000,000 "
                       "pixels (libpng's default limit), so the widest page there is that wide")
          ? 1000000
          : 89478480;
  const RunResult r = run(makePdf({a4, {2730.5, 8192}, a4, {widest / 2.0, 0.5}, a4}), "out");
  EXPECT_EQ(r.out, statusLines(5, 5, "DONE\t5"));
  EXPECT_EQ(listDir(dir_ / "out"), pageNames(5));
  // Checked whole by pngcheck: the widest is beyond libpng's default limit.
  for (const auto& [page, size] :
       {std::pair(2, be32(5461) + be32(16384)), std::pair(4, be32(widest) + be32(1))}) {
    EXPECT_EQ(pngcheckProblems(dir_ / ("out/" + pageName(page))), "");
    EXPECT_EQ(readFile(dir_ / ("out/" + pageName(page))).substr(16, 8), size);
  }
#ifndef FOLIO_PEAK_MEMORY_INFLATED
  EXPECT_LT(r.peakKiB, 256 * 1024 * 11 / 10 + 8 * 1024);
#endif
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST_F(RenderJob, DocumentsThatDoNotOpen) {
  const std::string pdf = makePdf(pages(1));
  writeFile(dir_ / "plain.pdf", pdf);
  const RunResult qpdf = runProgram({"/usr/bin/qpdf", "--encrypt", "user", "owner", "256", "--",
                                     dir_ / "plain.pdf", dir_ / "locked.pdf"});
  ASSERT_EQ(qpdf.exitCode, 0) << qpdf.err;
  std::string unknownHandler = pdf;  // a security handler PDFium does not know
  unknownHandler.insert(unknownHandler.find("<<", unknownHandler.rfind("trailer")) + 2,
                        "/Encrypt <</Filter /NoSuchHandler /V 2 /R 3 /Length 128 /P -4 "
                        "/O (0123456789abcdef0123456789abcdef) "
                        "/U (0123456789abcdef0123456789abcdef)>>");
  const std::tuple<std::string, std::string, int> cases[] = {
      {"this is not a PDF at all\n", "ERROR\tPDF_DAMAGED\n", 21},
      {"", "ERROR\tPDF_DAMAGED\n", 21},
      {makePdf({}), "ERROR\tPDF_DAMAGED\n", 21},  // no pages: not even START
      {readFile(dir_ / "locked.pdf"), "ERROR\tPASSWORD_REQUIRED\n", 22},
      {unknownHandler, "ERROR\tSECURITY_UNSUPPORTED\n", 23}};
  for (const auto& [bytes, expected, code] : cases) {
    const RunResult r = run(bytes, "out");
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.exitCode, code) << expected;
    EXPECT_TRUE(listDir(dir_ / "out").empty());
  }
}

// What the output folder already holds, and a page k that fails while page
// k + 1 may already be rendered: pages 1 to k - 1 are named and reported, a
// file already there is never replaced, and nothing else is left. The folder
// is passed as its path, or in the form `output` gives ("@" stands for its
// path, or after Y:\ for its name). Forms with a drive run only under Wine,
// with drive Y: mapped to the test's folder and the worker started in the
// output folder.
TEST_F(RenderJob, TheOutputFolderKeepsOnlyWholePages) {
  struct Case {
    const char* what;
    int inTheWay, stale, tooLarge;  // the page with a file, a .tmp file, too large; 0: none
    int reported;
    const char* last;
    int code;
    const char* output = "";
  };
  const std::string longName(250, 'l');  // past MAX_PATH with Y:\ and a page's name
  const Case cases[] = {
      {"page 1 exists", 1, 0, 0, 0, "ERROR\tCANNOT_WRITE", 31},
      {"page 5 exists", 5, 0, 0, 4, "ERROR\tCANNOT_WRITE", 31},
      {"the last page exists", 10, 0, 0, 9, "ERROR\tCANNOT_WRITE", 31},
      {"page 5 exists, page 6 is too large", 5, 0, 6, 4, "ERROR\tCANNOT_WRITE", 31},
      {"page 5 is too large", 0, 0, 5, 4, "ERROR\tPAGE_TOO_LARGE", 32},
      {"stale temporary files", 0, 1, 0, 10, "DONE\t10", 0},
      {"a trailing separator", 0, 10, 0, 10, "DONE\t10", 0, "@/"},
      {"a bare drive: its current folder", 0, 0, 0, 10, "DONE\t10", 0, "Y:"},
      {"a literal path ending in a separator", 0, 0, 0, 10, "DONE\t10", 0, "\\\\?\\Y:\\@\\"},
      {longName.c_str(), 0, 0, 0, 10, "DONE\t10", 0, "Y:"}};
  const bool wine = runsWindowsWorker();
  const char* prefix = std::getenv("WINEPREFIX");  // named by scripts/test-windows
  const std::filesystem::path driveY = std::string(prefix ? prefix : "") + "/dosdevices/y:";
  if (wine) std::filesystem::remove(driveY);
  if (wine) std::filesystem::create_directory_symlink(dir_.path(), driveY);
  for (const Case& c : cases) {
    const bool drive = std::string(c.output).find("Y:") != std::string::npos;
    if (drive && !wine) continue;
    const std::string out = dir_ / c.what;
    std::filesystem::create_directory(out);
    if (c.inTheWay) writeFile(out + "/" + pageName(c.inTheWay), "in the way");
    if (c.stale) writeFile(out + "/" + pageName(c.stale) + ".tmp", "left by a lost run");
    std::vector<PageSpec> document = pages(10);
    if (c.tooLarge) document[c.tooLarge - 1] = {14400, 14400};
    writeFile(dir_ / "in.pdf", makePdf(document));
    std::string output = *c.output ? c.output : out;
    if (const size_t at = output.find('@'); at != std::string::npos) {
      output.replace(at, 1, drive ? std::string(c.what) : out);
    }
    const RunResult r =
        runFolio({"--input", drive ? "Y:\\in.pdf" : dir_ / "in.pdf", "--output", output},
                 {.cwd = drive ? out : ""});
    EXPECT_EQ(r.out, statusLines(10, c.reported, c.last)) << c.what;
    EXPECT_EQ(r.exitCode, c.code) << c.what;
    std::vector<std::string> expected = pageNames(c.reported);
    if (c.inTheWay) expected.push_back(pageName(c.inTheWay));
    EXPECT_EQ(listDir(out), expected) << c.what;
    for (const std::string& name : pageNames(c.reported)) {
      EXPECT_EQ(decodePng(readFile(out + "/" + name)).width, 40u) << c.what;
    }
    EXPECT_TRUE(!c.inTheWay || readFile(out + "/" + pageName(c.inTheWay)) == "in the way");
  }
  if (wine) std::filesystem::remove(driveY);
}

TEST_F(RenderJob, AFullDiskIsReportedAndLeavesNoPartialPage) {
  // Two small pages fit; the third, 1.4 MB of noise to encode, does not. The
  // small pages after it are rendered while it is still being written, and
  // none of them may appear.
  const ScopedTmpfs disk(dir_ / "disk", 512 * 1024);
  ASSERT_TRUE(disk.mounted()) << disk.error();
  const RunResult r = run(makePdf({{40, 40, 0, {}, 1},
                                   {40, 40, 0, {}, 2},
                                   {400, 400, 0, {}, 3},
                                   {40, 40, 0, {}, 4},
                                   {40, 40, 0, {}, 5}}),
                          "disk");
  EXPECT_EQ(r.out, statusLines(5, 2, "ERROR\tDISK_FULL"));
  EXPECT_EQ(r.exitCode, 31);
  EXPECT_EQ(listDir(dir_ / "disk"), pageNames(2));
  for (const std::string& name : pageNames(2)) {
    EXPECT_EQ(decodePng(readFile(dir_ / ("disk/" + name))).width, 80u);
  }
}

}  // namespace
}  // namespace folio::test
