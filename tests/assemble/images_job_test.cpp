// The images-to-PDF job through the real binary: status lines, exit codes,
// the PDF it leaves (read back with PDFium) and what it never leaves.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "decode_fixtures.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/tmpfs.h"

namespace folio::test {
namespace {

constexpr Colour kGrey{128, 128, 128};

Picture grey(std::uint32_t width, std::uint32_t height) { return Picture(width, height, kGrey); }

// Pixels that do not compress, to make documents of a known large size.
Picture noise(std::uint32_t width, std::uint32_t height) {
  Picture p(width, height);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint32_t v = (x * 2654435761u) ^ (y * 2246822519u);
      v ^= v >> 13;
      v *= 3266489917u;
      v ^= v >> 16;
      p.at(x, y) = Colour{std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)};
    }
  }
  return p;
}

JpegOptions atDpi(std::uint16_t dpi, std::string app1 = "") {
  JpegOptions options;
  options.densityUnit = 1;
  options.densityX = options.densityY = dpi;
  options.app1 = std::move(app1);
  return options;
}

// What the Windows worker cannot show under Wine.
constexpr const char* kNoByteNamesOnWindows =
    "Windows names are UTF-16: a name that is not UTF-8 has no Windows form";

RunResult convert(const TempDir& dir, const std::vector<std::string>& images,
                  const std::string& output, const std::string& cwd = "") {
  makeImageList(dir / "images.list", images);
  return runFolio({"--images", dir / "images.list", "--output", output}, Stdout::captured, cwd);
}

TEST(ImagesJob, OneImageMakesOnePageFilledByIt) {
  TempDir dir;
  Picture redLeftBlueRight(40, 20, kRed);
  redLeftBlueRight.fill(20, 0, 40, 20, kBlue);
  writeBmp(dir / "a.bmp", redLeftBlueRight);
  const RunResult r = convert(dir, {dir / "a.bmp"}, dir / "out.pdf");
  EXPECT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\ta.bmp\nDONE\t1\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");

  const std::string pdf = readFile(dir / "out.pdf");
  const auto pages = readPdfPages(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_FLOAT_EQ(pages[0].width, 30);  // 40 pixels at 96 dpi
  EXPECT_FLOAT_EQ(pages[0].height, 15);
  const auto pixels = renderPdfPage(pdf, 0, 40, 20);
  const auto at = [&](int x, int y) { return &pixels[(y * 40 + x) * 3]; };
  EXPECT_GT(at(5, 10)[2], 230);  // red at the left
  EXPECT_LT(at(5, 10)[0], 25);
  EXPECT_GT(at(35, 10)[0], 230);  // blue at the right
  EXPECT_LT(at(35, 10)[2], 25);
}

TEST(ImagesJob, PageSizeFollowsPixelsAndResolution) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    double width, height;  // points; 0 when the image is refused
  };
  const Case cases[] = {
      {"widest at 96 dpi", [](auto& p) { writeBmp(p, grey(19200, 100)); }, 14400, 75},
      {"one pixel too wide", [](auto& p) { writeBmp(p, grey(19201, 100)); }, 0, 0},
      {"widest at 10 dpi", [](auto& p) { writeJpeg(p, grey(2000, 10), atDpi(10)); }, 14400, 72},
      {"too wide at 10 dpi", [](auto& p) { writeJpeg(p, grey(2001, 10), atDpi(10)); }, 0, 0},
      {"A4 at 300 dpi", [](auto& p) { writeJpeg(p, grey(2480, 3508), atDpi(300)); }, 595.2, 841.92},
      {"stored sideways", [](auto& p) { writeJpeg(p, grey(40, 20), atDpi(96, exifOrientationSegment(3, 1, 6))); }, 15, 30},
  };
  for (const Case& c : cases) {
    TempDir dir;
    c.make(dir / "image");
    const RunResult r = convert(dir, {dir / "image"}, dir / "out.pdf");
    if (c.width == 0) {
      EXPECT_EQ(r.out, "START\t1\nERROR\tIMAGE_TOO_LARGE\n") << c.what;
      EXPECT_EQ(r.exitCode, 32) << c.what;
      EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf")) << c.what;
      continue;
    }
    ASSERT_EQ(r.exitCode, 0) << c.what << ": " << r.out;
    const auto pages = readPdfPages(readFile(dir / "out.pdf"));
    ASSERT_EQ(pages.size(), 1u) << c.what;
    EXPECT_NEAR(pages[0].width, c.width, 0.005) << c.what;
    EXPECT_NEAR(pages[0].height, c.height, 0.005) << c.what;
  }
}

TEST(ImagesJob, AFailingImageEndsTheJobAndLeavesNoDocument) {
  TempDir dir;
  for (const char* name : {"a.bmp", "b.bmp", "d.bmp", "e.bmp"}) writeBmp(dir / name, grey(4, 4));
  writeFile(dir / "c.bmp", "this is a text file, whatever its name says\n");
  const std::vector<std::string> images = {dir / "a.bmp", dir / "b.bmp", dir / "c.bmp",
                                           dir / "d.bmp", dir / "e.bmp"};
  const std::string expected =
      "START\t5\nPROGRESS\t1\t5\ta.bmp\nPROGRESS\t2\t5\tb.bmp\nERROR\tIMAGE_READ_FAILED\n";

  RunResult r = convert(dir, images, dir / "new.pdf");
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.exitCode, 33);
  EXPECT_FALSE(std::filesystem::exists(dir / "new.pdf"));

  writeFile(dir / "old.pdf", "an earlier document");
  r = convert(dir, images, dir / "old.pdf");
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(readFile(dir / "old.pdf"), "an earlier document");

  r = convert(dir, {dir / "a.bmp", dir / "missing.bmp"}, dir / "new.pdf");
  EXPECT_EQ(r.out, "START\t2\nPROGRESS\t1\t2\ta.bmp\nERROR\tIMAGE_READ_FAILED\n");
  EXPECT_EQ(r.exitCode, 33);
}

TEST(ImagesJob, DisplayNames) {
  TempDir dir;
  struct Entry {
    std::string listed;  // as the list names it; relative ones from dir
    std::string name;    // its PROGRESS name
  };
  std::vector<Entry> entries = {
      {dir / "back\\slash.bmp", "slash.bmp"},
      {"plain.bmp", "plain.bmp"},
      {dir / "\xE9t\xE9.bmp", "image"},
      {dir / "\xC3\xA9t\xC3\xA9.bmp", "\xC3\xA9t\xC3\xA9.bmp"},
  };
  std::string skipped;
  if (runsWindowsWorker()) {
    // The backslash is a separator there: the same entry names a file in a
    // folder, and still shows the same name.
    std::filesystem::create_directory(dir / "back");
    writeBmp(dir / "back/slash.bmp", grey(2, 2));
    if (leftOutOnWindows(&skipped, "a name that is not UTF-8", kNoByteNamesOnWindows)) {
      entries.erase(entries.begin() + 2);
    }
  }
  std::vector<std::string> listed;
  std::string expected = "START\t" + std::to_string(entries.size()) + "\n";
  for (const Entry& e : entries) {
    writeBmp(e.listed[0] == '/' ? e.listed : dir / e.listed, grey(2, 2));
    listed.push_back(e.listed);
    expected += "PROGRESS\t" + std::to_string(listed.size()) + "\t" +
                std::to_string(entries.size()) + "\t" + e.name + "\n";
  }
  expected += "DONE\t" + std::to_string(entries.size()) + "\n";
  const RunResult r = convert(dir, listed, dir / "out.pdf", dir.str());
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(readPdfPages(readFile(dir / "out.pdf")).size(), entries.size());
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(ImagesJob, SavingReplacesOnlyWhatItMay) {
  TempDir dir;
  writeBmp(dir / "a.bmp", grey(8, 8));
  std::filesystem::create_directory(dir / "a-directory.pdf");
  writeFile(dir / "readonly.pdf", "protected");
  chmod((dir / "readonly.pdf").c_str(), 0444);
  writeFile(dir / "writable.pdf", "old");

  struct Case {
    std::string output;
    std::string lastLine;
    int code;
  };
  const Case cases[] = {
      {dir / "writable.pdf", "DONE\t1\n", 0},
      {dir / "readonly.pdf", "ERROR\tCANNOT_WRITE\n", 34},
      {dir / "a-directory.pdf", "ERROR\tCANNOT_WRITE\n", 34},
      {dir / "no-such-folder/out.pdf", "ERROR\tCANNOT_WRITE\n", 34},
  };
  for (const Case& c : cases) {
    const RunResult r = convert(dir, {dir / "a.bmp"}, c.output);
    EXPECT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\ta.bmp\n" + c.lastLine) << c.output;
    EXPECT_EQ(r.exitCode, c.code) << c.output;
  }
  EXPECT_EQ(readPdfPages(readFile(dir / "writable.pdf")).size(), 1u);
  EXPECT_EQ(readFile(dir / "readonly.pdf"), "protected");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a-directory.pdf"));
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

TEST(ImagesJob, FullDiskLeavesNoFile) {
  TempDir dir;
  writeBmp(dir / "noise.bmp", noise(400, 400));  // about 480 KB that do not compress
  std::filesystem::create_directory(dir / "disk");
  ScopedTmpfs disk(dir / "disk", 256 * 1024);
  ASSERT_TRUE(disk.mounted()) << disk.error();

  const RunResult r = convert(dir, {dir / "noise.bmp"}, dir / "disk/out.pdf");
  EXPECT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\tnoise.bmp\nERROR\tDISK_FULL\n");
  EXPECT_EQ(r.exitCode, 34);
  EXPECT_TRUE(listDir(dir / "disk").empty());
}

}  // namespace
}  // namespace folio::test
