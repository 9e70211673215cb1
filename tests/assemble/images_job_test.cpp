// The images-to-PDF job through the real binary: status lines, exit codes,
// the PDF it leaves (read back with PDFium) and what it never leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

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

// A command that runs the worker on those processors with the first opening
// of path held back by delay (strace injects it; LeakSanitizer cannot work
// under strace).
std::vector<std::string> holdingBackFirstOpen(const std::string& path, const std::string& delay,
                                              const std::string& processors) {
  return {"taskset",
          "-c",
          processors,
          "strace",
          "-E",
          "ASAN_OPTIONS=detect_leaks=0",
          "-fqqo/dev/null",
          "-P",
          path,
          "-einject=openat:delay_enter=" + delay + ":when=1"};
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
  // A placed JPEG listed twice, which the save reads, replaced by its own
  // document.
  writeFile(dir / "photo.pdf", readFile(fixturePath("orientation-1.jpg")));
  const std::pair<std::string, int> cases[] = {
      {dir / "writable.pdf", 0},
      {dir / "readonly.pdf", 34},
      {dir / "a-directory.pdf", 34},
      {dir / "no-such-folder/out.pdf", 34},
      {"relative.pdf", 0},  // in the job's folder
      {"./photo.pdf", 0},
  };
  for (const auto& [output, code] : cases) {
    const RunResult r =
        convert(dir, {u"\u00e9t\u00e9.bmp", u"photo.pdf", u"photo.pdf"}, output, dir.str());
    EXPECT_EQ(r.out, std::string("START\t3\nPROGRESS\t1\t3\t\xC3\xA9t\xC3\xA9.bmp\n"
                                 "PROGRESS\t2\t3\tphoto.pdf\nPROGRESS\t3\t3\tphoto.pdf\n") +
                         (code ? "ERROR\tCANNOT_WRITE\n" : "DONE\t3\n"))
        << output;
    EXPECT_EQ(r.exitCode, code) << output;
  }
  EXPECT_EQ(readPdfPages(readFile(dir / "writable.pdf")).size(), 3u);
  EXPECT_EQ(readPdfPages(readFile(dir / "relative.pdf")).size(), 3u);
  EXPECT_EQ(readPdfPages(readFile(dir / "photo.pdf")).size(), 3u);
  EXPECT_EQ(readFile(dir / "readonly.pdf"), "protected");
  EXPECT_TRUE(fs::is_directory(dir / "a-directory.pdf"));
  EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

// Lists whose failing image comes after images still being read: the job
// ends exactly as one that read one image at a time would, on one processor
// and on two. The first image's first opening is held back 0.3 s, so that
// the images after it are read, and fail, before it is done.
TEST(ImagesJob, TheFirstFailureEndsTheJobWhateverWasReadAhead) {
  if (runsWindowsWorker()) GTEST_SKIP() << "POSIX processor affinity and system calls";
  const std::string placed = "orientation-1.jpg", decoded = "png-grey.png",
                    unreadable = "bad-cut-half.jpg", large = "side-19201-at-96.jpg";
  struct Case {
    std::vector<std::string> files;
    size_t failing;  // the index of the image that ends the job; its length for none
    std::string error;
    int code;
  };
  const Case cases[] = {
      {{unreadable, placed, decoded}, 0, "IMAGE_READ_FAILED", 33},
      {{placed, unreadable}, 1, "IMAGE_READ_FAILED", 33},
      {{decoded, placed, decoded, placed, unreadable}, 4, "IMAGE_READ_FAILED", 33},
      {{placed, "bad-cut.png", placed}, 1, "IMAGE_READ_FAILED", 33},
      {{decoded, unreadable, large}, 1, "IMAGE_READ_FAILED", 33},
      {{placed, large, unreadable, decoded}, 1, "IMAGE_TOO_LARGE", 32},
      {{decoded, placed, placed, decoded}, 4, "", 0},
  };
  TempDir dir;
  for (const std::string processors : {"0", "0,1"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(processors + ": " + c.files[0] + " and " + std::to_string(c.files.size() - 1));
      std::vector<std::u16string> paths;
      const std::string n = std::to_string(c.files.size());
      std::string expected = "START\t" + n + "\n";
      for (size_t i = 0; i < c.files.size(); ++i) {
        paths.push_back(wide(fixturePath(c.files[i])));
        if (i < c.failing)
          expected += "PROGRESS\t" + std::to_string(i + 1) + "\t" + n + "\t" + c.files[i] + "\n";
      }
      expected += c.code ? "ERROR\t" + c.error + "\n" : "DONE\t" + n + "\n";
      writeFile(dir / "images.list", imageListBytes(paths));
      const RunResult r =
          runFolio({"--images", dir / "images.list", "--output", dir / "out.pdf"},
                   {.wrapper = holdingBackFirstOpen(fixturePath(c.files[0]), "300ms", processors)});
      EXPECT_EQ(r.out, expected);
      EXPECT_EQ(r.exitCode, c.code);
      EXPECT_EQ(fs::exists(dir / "out.pdf"), c.code == 0);
      fs::remove(dir / "out.pdf");
    }
  }
}

// A placed JPEG is read from its file again when the document is saved:
// a file changed after its page was reported fails the job rather than
// becoming another page. The second image's opening is held back 1 s, so
// that the change comes between the check and the save.
TEST(ImagesJob, APlacedFileChangedBeforeTheSaveFailsTheJob) {
  if (runsWindowsWorker()) GTEST_SKIP() << "POSIX system calls";
  TempDir dir;
  const std::string jpeg = readFile(fixturePath("orientation-1.jpg")), photo = dir / "photo.jpg";
  const std::tuple<const char*, bool, std::function<void()>> cases[] = {
      {"unchanged", true, [] {}},
      {"rewritten whole, the same bytes", true, [&] { writeFile(photo, jpeg); }},
      {"one scan byte changed", false,
       [&] {
         writeFile(photo, jpeg.substr(0, jpeg.size() - 10) + "\x55" + jpeg.substr(jpeg.size() - 9));
       }},
      {"cut short", false, [&] { writeFile(photo, jpeg.substr(0, jpeg.size() - 2)); }},
      {"removed", false, [&] { fs::remove(photo); }},
  };
  for (const auto& [what, same, change] : cases) {
    writeFile(photo, jpeg);
    writeFile(dir / "images.list",
              imageListBytes({wide(photo), wide(fixturePath("png-grey.png"))}));
    const RunResult r =
        runFolio({"--images", dir / "images.list", "--output", dir / "out.pdf"},
                 {.wrapper = holdingBackFirstOpen(fixturePath("png-grey.png"), "1s", "0,1"),
                  .onLine = [&change = change](const std::string& line) {
                    if (line.starts_with("PROGRESS\t1\t")) change();
                    return true;
                  }});
    EXPECT_EQ(r.out,
              std::string("START\t2\nPROGRESS\t1\t2\tphoto.jpg\nPROGRESS\t2\t2\tpng-grey.png\n") +
                  (same ? "DONE\t2\n" : "ERROR\tIMAGE_READ_FAILED\n"))
        << what;
    EXPECT_EQ(r.exitCode, same ? 0 : 33) << what;
    EXPECT_EQ(fs::exists(dir / "out.pdf"), same) << what;
    fs::remove(dir / "out.pdf");
  }
}

// A grey baseline JPEG of 8192 by 8192 pixels, 91 MB: every block a DC
// difference of 0 and 63 AC coefficients of 512, each a one-bit code and ten
// bits, so that four blocks make 347 whole bytes and no 0xFF.
std::string bigJpeg() {
  const auto segment = [](int marker, const std::string& body) {
    const size_t n = body.size() + 2;
    return std::string{'\xFF', char(marker), char(n >> 8), char(n)} + body;
  };
  const std::string oneCode = '\x01' + std::string(15, '\0');
  std::string jpeg = "\xFF\xD8" + segment(0xDB, '\0' + std::string(64, '\x01')) +
                     segment(0xC0, std::string("\x08\x20\x00\x20\x00\x01\x01\x11\x00", 9)) +
                     segment(0xC4, '\x00' + oneCode + '\x00') +  // DC: difference 0
                     segment(0xC4, '\x10' + oneCode + '\x0A') +  // AC: run 0, ten bits
                     segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
  std::string blocks;
  unsigned byte = 0, filled = 0;
  for (int bit = 0; bit < 4 * (1 + 63 * 11); ++bit) {
    const int inBlock = bit % (1 + 63 * 11);
    byte = byte << 1 | (inBlock > 0 && (inBlock - 1) % 11 == 1);
    if (++filled == 8) blocks += char(byte), byte = filled = 0;
  }
  for (int i = 0; i < 1024 * 1024 / 4; ++i) jpeg += blocks;
  return jpeg + "\xFF\xD9";
}

// Past 2 GiB (the photo above placed 25 times), every entry of the table
// points at its own object, and qpdf reads the table as it stands.
TEST(ImagesJob, ADocumentPast2GiBKeepsATrueTable) {
  std::string skipped;
  if (leftOutOnWindows(&skipped, "a document past 2 GiB", "a 32-bit worker cannot hold it")) {
    GTEST_SKIP() << skipped;
  }
  TempDir dir;
  writeFile(dir / "big.jpg", bigJpeg());
  const RunResult r = convert(dir, std::vector(25, wide(dir / "big.jpg")), dir / "out.pdf");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::ifstream pdf(dir / "out.pdf", std::ios::binary);
  const std::uint64_t size = fs::file_size(dir / "out.pdf");
  ASSERT_GT(size, std::uint64_t{1} << 31);
  const auto at = [&](std::uint64_t offset, size_t length) {
    std::string bytes(length, '\0');
    pdf.seekg(std::streamoff(offset)).read(bytes.data(), std::streamsize(length));
    return bytes.substr(0, size_t(pdf.gcount()));
  };
  const std::string end = at(size - 40, 40);
  const std::uint64_t table = std::stoull(end.substr(end.find("startxref\r\n") + 11));
  // One subsection: objects 0 (free), 1 to 3, and five a page: the page,
  // its contents, the flattened stamp's form, its appearance, the image.
  std::istringstream lines(at(table, size_t(size - table)));
  std::string word, offset, use;
  std::uint64_t count = 0;
  lines >> word >> word >> count;
  EXPECT_EQ(count, 4u + 5 * 25);
  for (std::uint64_t object = 0; object < count && lines >> offset >> word >> use; ++object) {
    ASSERT_EQ(offset.size(), 10u) << object;
    if (use != "n") continue;
    EXPECT_EQ(at(std::stoull(offset), 20).rfind(std::to_string(object) + " 0 obj\r\n", 0), 0u)
        << offset;
  }
  const RunResult qpdf = runProgram({"/usr/bin/qpdf", "--show-xref", dir / "out.pdf"});
  EXPECT_EQ(qpdf.exitCode, 0) << qpdf.err;
  EXPECT_EQ(qpdf.err, "");
}

}  // namespace
}  // namespace folio::test
