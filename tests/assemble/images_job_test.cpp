// The images-to-PDF job through the real binary: status lines, exit codes,
// the PDF it leaves (read back with PDFium) and what it never leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "fixtures.h"
#include "support/bytes.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

namespace fs = std::filesystem;

// A job over a list of these paths, read as the job's folder `cwd` sees them.
RunResult convert(const TempDir& dir, const std::vector<std::u16string>& images,
                  const std::string& output, const std::string& cwd = "") {
  writeFile(dir / "images.list", imageListBytes(images));
  return runFolio({"--images", dir / "images.list", "--output", output}, RunOptions{.cwd = cwd});
}

// Every page fixture of the table in one job: each page is sized by the
// image's pixels and resolution, shows the sampled colours upright and
// flattened, and holds a JPEG's own bytes exactly when it is placed as stored.
TEST(ImagesJob, EveryFixtureMakesItsPage) {
  const std::vector<Fixture> table = loadFixtures();
  std::vector<const Fixture*> listed;
  std::vector<std::u16string> paths;
  std::string skipped;
  for (const Fixture& f : table) {
    if (!f.endToEnd || f.outcome != "page") continue;
    if (f.wine != "-" && leftOutOnWindows(&skipped, f.file, f.wine)) continue;
    listed.push_back(&f);
    paths.push_back(wide(fixturePath(f.file)));
  }
  const std::string n = std::to_string(listed.size());
  std::string expected = "START\t" + n + "\n";
  for (size_t i = 0; i < listed.size(); ++i) {
    expected += "PROGRESS\t" + std::to_string(i + 1) + "\t" + n + "\t" + listed[i]->file + "\n";
  }
  TempDir dir;
  const RunResult r = convert(dir, paths, dir / "out.pdf");
  ASSERT_EQ(r.out, expected + "DONE\t" + n + "\n");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  const std::string pdf = readFile(dir / "out.pdf");
  const auto pages = readPdfPages(pdf);
  ASSERT_EQ(pages.size(), listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    const Fixture& f = *listed[i];
    SCOPED_TRACE(f.file);
    // Points: 72 to the inch, across by dpiX, down by dpiY.
    EXPECT_NEAR(pages[i].width, f.width * 72 / f.dpiX, 0.005);
    EXPECT_NEAR(pages[i].height, f.height * 72 / f.dpiY, 0.005);
    if (f.placed >= 0) {
      EXPECT_EQ(pdf.find(readFile(fixturePath(f.file))) != std::string::npos, f.placed == 1);
    }
    if (f.samples.empty()) continue;
    // 8 rendered pixels to an image pixel; each sample at its centre. A
    // JPEG's page is rendered by the other readers too (as red, green, blue).
    const int w = int(f.width) * 8, h = int(f.height) * 8;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> renders{
        {"pdfium", renderPdfPage(pdf, int(i), w, h)}};
    const std::string page = std::to_string(i + 1), x = std::to_string(w), y = std::to_string(h);
    for (const auto& reader :
         {std::vector<std::string>{"pdftoppm", "-f", page, "-l", page, "-scale-to-x", x,
                                   "-scale-to-y", y},
          {"mutool", "draw", "-q", "-f", "-o", "-", "-F", "ppm", "-w", x, "-h", y}}) {
      if (f.placed < 0) break;
      auto argv = reader;
      argv.insert(argv.begin() + (reader[0] == "mutool" ? 12 : 9), dir / "out.pdf");
      if (reader[0] == "mutool") argv.push_back(page);
      const std::string ppm = runProgram(argv).out;
      const std::string head = "P6\n" + x + " " + y + "\n255\n";
      ASSERT_EQ(ppm.substr(0, head.size()), head) << reader[0];
      std::vector<std::uint8_t> bgr(ppm.begin() + head.size(), ppm.end());
      for (std::size_t p = 0; p + 2 < bgr.size(); p += 3) std::swap(bgr[p], bgr[p + 2]);
      renders.emplace_back(reader[0], std::move(bgr));
    }
    for (const auto& [reader, pixels] : renders) {
      for (const Sample& s : f.samples) {
        EXPECT_TRUE(shows(&pixels[(std::size_t(s.y * 8 + 4) * w + s.x * 8 + 4) * 3], s,
                          std::max(f.tolerance, 12)))
            << reader;
      }
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// Each damaged or oversized fixture alone: its error line and code, no
// document, and nothing from a codec library on standard error.
TEST(ImagesJob, EveryFailingFixtureEndsTheJob) {
  std::string skipped;
  TempDir dir;
  for (const Fixture& f : loadFixtures()) {
    if (!f.endToEnd || f.outcome == "page") continue;
    if (f.wine != "-" && leftOutOnWindows(&skipped, f.file, f.wine)) continue;
    SCOPED_TRACE(f.file);
    fs::remove(dir / "out.pdf");
    const RunResult r = convert(dir, {wide(fixturePath(f.file))}, dir / "out.pdf");
    EXPECT_EQ(r.err, "");
    if (f.outcome == "any") {
      EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 33) << r.exitCode;
      continue;
    }
    const bool large = f.outcome == "too-large";
    EXPECT_EQ(r.out, std::string("START\t1\nERROR\t") +
                         (large ? "IMAGE_TOO_LARGE" : "IMAGE_READ_FAILED") + "\n");
    EXPECT_EQ(r.exitCode, large ? 32 : 33);
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

// The image is named relative to the job's folder, and beyond ASCII: its
// PROGRESS line shows its name in UTF-8.
TEST(ImagesJob, SavingReplacesOnlyWhatItMay) {
  TempDir dir;
  writeFile(dir / "\xC3\xA9t\xC3\xA9.bmp", readFile(fixturePath("bmp-os2-8bit.bmp")));
  fs::create_directory(dir / "a-directory.pdf");
  writeFile(dir / "readonly.pdf", "protected");
  chmod((dir / "readonly.pdf").c_str(), 0444);
  writeFile(dir / "writable.pdf", "old");
  const std::pair<std::string, int> cases[] = {
      {dir / "writable.pdf", 0},     {dir / "readonly.pdf", 34},
      {dir / "a-directory.pdf", 34}, {dir / "no-such-folder/out.pdf", 34},
      {"relative.pdf", 0},  // in the job's folder
  };
  for (const auto& [output, code] : cases) {
    const RunResult r = convert(dir, {u"\u00e9t\u00e9.bmp"}, output, dir.str());
    EXPECT_EQ(r.out, std::string("START\t1\nPROGRESS\t1\t1\t\xC3\xA9t\xC3\xA9.bmp\n") +
                         (code ? "ERROR\tCANNOT_WRITE\n" : "DONE\t1\n"))
        << output;
    EXPECT_EQ(r.exitCode, code) << output;
  }
  EXPECT_EQ(readPdfPages(readFile(dir / "writable.pdf")).size(), 1u);
  EXPECT_EQ(readPdfPages(readFile(dir / "relative.pdf")).size(), 1u);
  EXPECT_EQ(readFile(dir / "readonly.pdf"), "protected");
  EXPECT_TRUE(fs::is_directory(dir / "a-directory.pdf"));
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

}  // namespace
}  // namespace folio::test
