// What callers feed a worker when things go wrong: entries that are not
// images, hostile headers, disks that fill, folders that vanish, readers that
// leave. Every case must end with its result code, promptly, without a crash
// and without a partial file at an output name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>

#include "assemble/fixtures.h"
#include "support/bytes.h"
#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/tmpfs.h"

namespace folio::test {
namespace {

namespace fs = std::filesystem;

// The smallest image, under a name of the test's own.
void image(const std::string& path) { writeFile(path, readFile(fixturePath("dot.bmp"))); }

// A list file holding these entries exactly, zero units included.
void writeRawList(const std::string& path, const std::vector<std::u16string>& entries) {
  writeFile(path, imageListBytes(entries));
}

TEST(Faults, ListEntriesThatAreNotImagesFailPromptly) {
  TempDir dir;
  image(dir / "good.bmp");
  mkfifo((dir / "fifo").c_str(), 0666);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "loop-b", dir / "loop-a");
  fs::create_symlink(dir / "loop-a", dir / "loop-b");
  const std::pair<const char*, std::u16string> cases[] = {
      {"a directory", wide(dir / "folder")},
      {"a pipe without a writer", wide(dir / "fifo")},
      {"an endless device", u"/dev/zero"},
      {"a symbolic link loop", wide(dir / "loop-a")},
      {"a zero unit cutting the path to a folder", wide(dir / "folder/") + u'\0' + u"good.bmp"},
      {"a lone surrogate, which names no file here", wide(dir / "good") + u'\xD800'},
  };
  for (const auto& [what, entry] : cases) {
    writeRawList(dir / "list", {wide(dir / "good.bmp"), entry});
    writeFile(dir / "x.pdf", "an earlier document");  // a failed job leaves it as it was
    const RunResult r = runFolio({"--images", dir / "list", "--output", dir / "x.pdf"});
    EXPECT_EQ(r.out, "START\t2\nPROGRESS\t1\t2\tgood.bmp\nERROR\tIMAGE_READ_FAILED\n") << what;
    EXPECT_EQ(r.exitCode, 33) << what;
    EXPECT_LT(r.seconds, 10) << what;
    EXPECT_EQ(readFile(dir / "x.pdf"), "an earlier document") << what;
  }
}

// Gigabytes behind each format's signature, in sparse files that cost no
// disk: refused without being read. 3 GiB is more than any image within the
// limit could need; 1.9 GiB is less, so there each reader's own bounds must
// hold. A bitmap whose sizes wrap when multiplied, and headers that declare
// far more pixels than their files hold, are refused at the header.
// Measured under Wine 8.0 with 1900 MiB files.
constexpr const char* kWineDecodersReadOn =
    "below the size bound the file reaches Wine's own decoders, which read on through it (JPEG "
    "took 15 to 22 s, TIFF, BMP and WebP up to 2 s)";

constexpr const char* kWineDecodesClearCodes =
    "Wine's GIF decoder reads every clear code before the worker sees a pixel (35 s); only an "
    "LZW decode of the worker's own could refuse them first";

constexpr const char* kWineKeepsEveryField =
    "Wine's TIFF decoder keeps every field of the directory it reads, as libtiff does, and "
    "peaked at 127 MiB on these (the header check of the Windows build reads only the fields the "
    "pixels need)";

constexpr const char* kWineDecodesEveryScan =
    "Wine's JPEG decoder reads all 3000 scans before the worker's own count of them (17 s)";

TEST(Faults, HugeFilesAndHeadersFailFastInBoundedMemory) {
  TempDir dir;
  writeFile(dir / "text", "not an image\n");
  writeRawList(dir / "text.list", {wide(dir / "text")});
  const std::pair<const char*, std::string> signatures[] = {
      {"jpeg", "\xFF\xD8\xFF"},
      {"png", "\x89PNG\r\n\x1A\n"},
      {"gif", "GIF89a"},
      {"tiff", std::string("II*\0", 4)},
      {"bmp", "BM"},
      {"webp", "RIFF" + le32(0xFFFFFFF0) + "WEBP"},
  };
  struct Case {
    std::string what, head;
    std::uintmax_t size;
    const char* windowsGap;
  };
  std::vector<Case> cases;
  for (const std::uintmax_t size : {std::uintmax_t{3} << 30, std::uintmax_t{1900} << 20}) {
    for (const auto& [format, head] : signatures) {
      // PNG and GIF fail at their first record, under Wine as here.
      const bool readOn = size < (std::uintmax_t{2} << 30) && head[0] != '\x89' && head[0] != 'G';
      cases.push_back({std::string(format) + " of " + std::to_string(size >> 20) + " MiB", head,
                       size, readOn ? kWineDecodersReadOn : nullptr});
    }
  }
  // 2^30 by -2^31 pixels at 64 bits a pixel, in 54 bytes.
  cases.push_back({"bmp with wrapping sizes",
                   "BM" + le32(54) + le32(0) + le32(54) + le32(40) + le32(1u << 30) +
                       le32(0x80000000) + le16(1) + le16(64) + std::string(24, '\0'),
                   54, nullptr});
  // A PNG chunk the image does not need, of 1500 MiB.
  cases.push_back({"png with 1500 MiB of metadata",
                   std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0"
                               "\x90\x77\x53\xDE\x5D\xC0\0\0abCd",
                               41),
                   std::uintmax_t{1500} << 20, nullptr});
  // A GIF of 2048 by 2048 pixels whose data is 1 MiB of clear codes, eight of 3 bits in 3 bytes.
  std::string clears("GIF89a\0\x08\0\x08\x80\0\0\0\0\0\xFF\xFF\xFF,\0\0\0\0\0\x08\0\x08\0\x02", 30);
  for (int i = 0; i < 4096; ++i) {
    clears += '\xFF';
    for (int j = 0; j < 85; ++j) clears += "\x24\x49\x92";
  }
  cases.push_back({"gif of clear codes", clears + std::string("\0;", 2), clears.size() + 2,
                   kWineDecodesClearCodes});
  // A 1 by 1 RGB TIFF whose 16 fields all point at the same 6 MiB, each kept by libtiff.
  std::string fields = std::string("II*\0", 4) + le32(8) + le16(20) + le32(0x30100) + le32(1) +
                       le32(1) + le32(0x30101) + le32(1) + le32(1) + le32(0x30106) + le32(1) +
                       le32(2) + le32(0x30115) + le32(1) + le32(3);
  for (int i = 0; i < 16; ++i) fields += le16(40000 + i) + le16(1) + le32(6 << 20) + le32(4096);
  cases.push_back(
      {"tiff of 16 fields at the same bytes", fields, 4096 + (6 << 20), kWineKeepsEveryField});
  // bomb-scans.jpg: 3000 near-empty scans over 8192 by 1024 pixels, seconds of work
  for (const char* name : {"bomb.png", "bomb.jpg", "bomb.gif", "bomb.tif", "bomb.bmp", "bomb.webp",
                           "bomb-scans.jpg", "bomb-text.png", "bomb-vp8x.webp", "bomb-alph.webp",
                           "bomb-samples.tif", "bomb-tiles.tif"}) {
    const std::string bytes = readFile(fixturePath(name));
    const bool scans = std::string(name) == "bomb-scans.jpg";
    cases.push_back({name, bytes, bytes.size(), scans ? kWineDecodesEveryScan : nullptr});
  }
  // A million empty segments: kept in a list, each cost a walk along it.
  std::string segments = "\xFF\xD8";
  for (int i = 0; i < 1 << 20; ++i) segments += std::string("\xFF\xE1\0\2", 4);
  cases.push_back({"jpeg of a million empty segments", segments, segments.size(), nullptr});
  // The rows of the largest image allowed under a header that declares one
  // more: a decode would fill them all before missing the last.
  const std::string overLimit = readFile(fixturePath("limit-8192x8193.png"));
  cases.push_back({"one row over the largest image", overLimit, overLimit.size(), nullptr});
  std::string skipped;
  for (const Case& c : cases) {
    if (c.windowsGap && leftOutOnWindows(&skipped, c.what, c.windowsGap)) continue;
    writeFile(dir / "huge", c.head);
    fs::resize_file(dir / "huge", c.size);
    writeRawList(dir / "list", {wide(dir / "huge")});
    // Within a second of a run on a text file timed next to it, so that the
    // machine's load counts on both sides.
    const RunResult plain = runFolio({"--images", dir / "text.list", "--output", dir / "out.pdf"});
    const RunResult r = runFolio({"--images", dir / "list", "--output", dir / "out.pdf"});
    EXPECT_EQ(r.out, "START\t1\nERROR\tIMAGE_READ_FAILED\n") << c.what;
    EXPECT_EQ(r.exitCode, 33) << c.what;
    EXPECT_LT(r.seconds, 3 * plain.seconds + 1.0) << c.what;
    EXPECT_LT(r.peakKiB, 64 * 1024) << c.what;
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

TEST(Faults, ListsAtTheirLimits) {
  TempDir dir;
  // First, while this process is small: the child's peak counts it too.
  // Announces 10000 entries of 32767 units (over 600 MiB of text) and holds
  // two bytes of it: refused at once, without reserving the text.
  writeFile(dir / "short.list", le32(10000) + le32(32767) + "ab");
  RunResult r = runFolio({"--images", dir / "short.list", "--output", dir / "short.pdf"});
  EXPECT_EQ(r.out, "ERROR\tIMAGE_READ_FAILED\n");
  EXPECT_EQ(r.exitCode, 33);
  EXPECT_LT(r.peakKiB, 32 * 1024);
  EXPECT_FALSE(fs::exists(dir / "short.pdf"));

  image(dir / "dot.bmp");
  // The longest list is taken whole and worked through in order: its third
  // entry, unreadable, ends the job right there.
  std::vector<std::u16string> entries(10000, wide(dir / "dot.bmp"));
  entries[2] = wide(dir / "missing.bmp");
  writeRawList(dir / "longest.list", entries);
  r = runFolio({"--images", dir / "longest.list", "--output", dir / "longest.pdf"});
  EXPECT_EQ(r.out,
            "START\t10000\nPROGRESS\t1\t10000\tdot.bmp\nPROGRESS\t2\t10000\tdot.bmp\n"
            "ERROR\tIMAGE_READ_FAILED\n");
  EXPECT_EQ(r.exitCode, 33);

  // The longest list converts whole, in a time that grows as its length does:
  // a page costs the same however many came before it. Against a tenth of
  // it timed alike, so that the machine's load counts on both sides.
  writeRawList(dir / "tenth.list", std::vector<std::u16string>(1000, wide(dir / "dot.bmp")));
  const double tenth =
      runFolio({"--images", dir / "tenth.list", "--output", dir / "tenth.pdf"}).seconds;
  entries[2] = wide(dir / "dot.bmp");
  writeRawList(dir / "longest.list", entries);
  RunOptions patient;  // the bound below judges the time; this only guards a hang
  patient.timeoutSeconds = 600;
  r = runFolio({"--images", dir / "longest.list", "--output", dir / "longest.pdf"}, patient);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("PROGRESS\t10000\t10000\tdot.bmp\nDONE\t10000\n"), std::string::npos);
  EXPECT_LT(r.seconds, 30 * tenth);  // ten times as long, give or take; a square law is 100
  EXPECT_EQ(readPdfPages(readFile(dir / "longest.pdf")).size(), 10000u);
}

// The reader goes away after `keep` lines: after START, midway, before DONE;
// 0 closes standard output from the start. The worker must finish the same
// job with the same exit code.
RunOptions losingReader(int keep) {
  RunOptions options;
  if (keep == 0) options.mode = Stdout::closed;
  auto seen = std::make_shared<int>(0);
  if (keep > 0) options.onLine = [seen, keep](const std::string&) { return ++*seen < keep; };
  return options;
}

TEST(Faults, LostStandardOutputChangesNeitherResultNorFiles) {
  TempDir dir;
  writeFile(dir / "doc.pdf", makePdf(std::vector<PageSpec>(8, {300, 300, 0, {}, 1})));
  std::vector<std::u16string> images;
  for (int i = 0; i < 8; ++i) {
    image(dir / ("img" + std::to_string(i) + ".bmp"));
    images.push_back(wide(dir / ("img" + std::to_string(i) + ".bmp")));
  }
  writeRawList(dir / "list", images);

  for (const int keep : {0, 1, 3, 9}) {
    const std::string pages = dir / ("pages-" + std::to_string(keep));
    fs::create_directory(pages);
    RunResult r = runFolio({"--input", dir / "doc.pdf", "--output", pages}, losingReader(keep));
    EXPECT_EQ(r.signal, 0) << keep;
    EXPECT_EQ(r.exitCode, 0) << keep;
    EXPECT_EQ(listDir(pages).size(), 8u) << keep;
    EXPECT_EQ(listDir(pages).back(), "page_008.png") << keep;

    const std::string pdf = dir / ("out-" + std::to_string(keep) + ".pdf");
    r = runFolio({"--images", dir / "list", "--output", pdf}, losingReader(keep));
    EXPECT_EQ(r.signal, 0) << keep;
    EXPECT_EQ(r.exitCode, 0) << keep;
    EXPECT_EQ(readPdfPages(readFile(pdf)).size(), 8u) << keep;
  }
  // Jobs refused before they start, with no reader from the start.
  for (const Stdout mode : {Stdout::closed, Stdout::noReader}) {
    EXPECT_EQ(runFolio({"--bogus"}, RunOptions{.mode = mode}).exitCode, 10);
    EXPECT_EQ(
        runFolio({"--images", dir / "nope", "--output", dir / "o.pdf"}, RunOptions{.mode = mode})
            .exitCode,
        33);
  }
}

// The output folder is moved away while pages are written: the page being
// written fails with CANNOT_WRITE, every earlier page is whole.
TEST(Faults, OutputFolderMovedAwayMidJob) {
  TempDir dir;
  writeFile(dir / "doc.pdf", makePdf(std::vector<PageSpec>(30, {612, 792, 0, {}, 1})));
  const std::string pages = dir / "pages", moved = dir / "moved";
  fs::create_directory(pages);
  RunOptions options;
  options.onLine = [&](const std::string& line) {
    if (line == "PROGRESS\t2\t30\tpage_002.png\n") fs::rename(pages, moved);
    return true;
  };
  const RunResult r = runFolio({"--input", dir / "doc.pdf", "--output", pages}, options);
  EXPECT_EQ(r.exitCode, 31);
  ASSERT_GE(r.out.size(), 20u);
  EXPECT_EQ(r.out.substr(r.out.size() - 19), "ERROR\tCANNOT_WRITE\n");
  auto files = listDir(moved);
  // Exactly the pages reported, each whole, and no extra page: the page in
  // the writer's hands went with the folder, named and reported, or left
  // nothing. The Windows build writes it under a temporary name, which it can
  // no longer remove once the folder is not at its path.
  const auto reported = static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n')) - 2;
  EXPECT_GE(reported, 2u);
  EXPECT_LT(reported, 30u);
  if (runsWindowsWorker()) std::erase_if(files, [](auto& f) { return f.ends_with(".tmp"); });
  ASSERT_EQ(files.size(), reported) << testing::PrintToString(files);
  for (const auto& name : files) {
    EXPECT_EQ(name.size(), 12u) << name;  // page_NNN.png, never page_NNN.png.tmp
    const std::string png = readFile(moved + "/" + name);
    EXPECT_EQ(png.substr(png.size() - 8, 4), "IEND") << name;
  }
}

// LeakSanitizer, in the sanitizers' build, cannot work under strace.
const std::string noLeakCheck = "-E ASAN_OPTIONS=detect_leaks=0";

// The system a caller runs the worker in: a folder it may write but not read,
// a umask that leaves files unwritable, a file-size limit, calls that fail
// (injected with strace), a file system without unnamed files (strace
// refusing O_TMPFILE), a second job in the same folder while the first syncs
// its temporary page, a full non-blocking pipe. Each job writes START,
// PROGRESS for pages 1 to k and its last line; the folder holds exactly the
// pages reported (and page 2 if it was in the way), each written by the job
// that reported it.
TEST(Faults, NamedPagesAreExactlyTheReportedOnes) {
  if (runsWindowsWorker()) GTEST_SKIP() << "POSIX rights, limits and system calls";
  TempDir dir;  // "40.pdf" holds pages 40 pixels wide
  writeFile(dir / "40.pdf", makePdf(std::vector<PageSpec>(3, {20, 20})));
  writeFile(dir / "60.pdf", makePdf(std::vector<PageSpec>(3, {30, 30})));
  writeFile(dir / "800.pdf", makePdf({{400, 400, 0, {}, 1}}));  // noise: 1.9 MB of PNG
  writeFile(dir / "2.pdf", makePdf(std::vector<PageSpec>(200, {1, 1})));
  // Each job is started as sh -c 'PREFIX "$0" "$@"' WORKER ARGUMENTS.
  const std::string
      out = dir / "out",
      st = "exec strace " + noLeakCheck + " -fqqo/dev/null", tr = st + " -P'" + out + "'",
      tmp = " -P'" + out + "/page_001.png.tmp' -P'" + out + "/page_001.png'",
      noRead = "exec setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search",
      noUnnamed = tr + " -einject=openat:error=EOPNOTSUPP:when=2+3",
      once = " -einject=openat:error=EOPNOTSUPP:when=2";
  const auto slow = [&](const std::string& microseconds) {  // page 1's first sync
    return tr + tmp + " -einject=fsync:delay_enter=" + microseconds + ":when=1";
  };
  const std::tuple<const char*, std::string, std::string, int, int, int> cases[] = {
      // What; the prefix; a second job's on 60.pdf, begun at the first one's
      // START; the page width; page 2 in the way; pages reported (-1: any).
      {"a folder it may write but not read", noRead, "", 40, 0, 0},
      {"umask 0222, page 2 in the way, no unnamed files", "umask 0222; " + noUnnamed, "", 40, 2, 1},
      {"a file-size limit", "ulimit -f 200; exec", "", 800, 0, 0},
      {"the page's sync fails", st + " -einject=fsync:error=EROFS:when=1", "", 40, 0, 0},
      {"the folder's sync fails", tr + " -einject=fsync:error=EIO", "", 40, 0, 0},
      {"close fails, no unnamed file", noUnnamed + tmp + " -einject=close:error=EIO", "", 40, 0, 0},
      {"interrupted writes", st + " -einject=write:error=EINTR:when=1+2", "", 40, 0, 3},
      {"a full non-blocking pipe", "exec", "", 2, 0, 200},
      {"two jobs", slow("1000000"), slow("2000000"), 40, 0, -1},
      {"two jobs, no unnamed files", slow("1000000") + once, slow("2000000") + once, 40, 0, -1},
      {"two jobs, another's file renamed", tr + once + " -einject=renameat2:delay_enter=2s:when=1",
       "sleep 0.5; " + slow("3000000") + once, 40, 0, -1},
  };
  const auto through = [](const std::string& prefix) {
    return std::vector<std::string>{"sh", "-c", prefix + " \"$0\" \"$@\""};
  };
  for (const auto& [what, wrapper, second, width, inTheWay, reported] : cases) {
    fs::remove_all(out);
    fs::create_directory(out);
    if (inTheWay) writeFile(out + "/page_002.png", "in the way");
    if (wrapper == noRead) fs::permissions(out, fs::perms(0333));
    std::future<RunResult> other;
    RunOptions options{.mode = width == 2 ? Stdout::smallNonBlocking : Stdout::captured,
                       .wrapper = through(wrapper)};
    options.onLine = [&](const std::string& line) {
      if (!second.empty() && line.starts_with("START"))
        other = std::async(std::launch::async, runFolio,
                           std::vector<std::string>{"--input", dir / "60.pdf", "--output", out},
                           RunOptions{.wrapper = through(second)});
      return true;
    };
    const std::string pdf = dir / (std::to_string(width) + ".pdf");
    std::vector<std::pair<int, RunResult>> runs{
        {width, runFolio({"--input", pdf, "--output", out}, options)}};
    if (other.valid()) runs.emplace_back(60, other.get());
    fs::permissions(out, fs::perms::owner_all);
    std::vector<std::string> named;
    for (const auto& [pixels, r] : runs) {
      const std::string total = pixels == 2 ? "200" : pixels == 800 ? "1" : "3";
      const int k = reported >= 0 ? reported : int(std::ranges::count(r.out, '\n')) - 2;
      std::string expected = "START\t" + total + "\n";
      for (int page = 1; page <= k; ++page) {
        const std::string name = "page_" + std::to_string(1000 + page).substr(1) + ".png";
        expected += "PROGRESS\t" + std::to_string(page) + "\t" + total + "\t" + name + "\n";
        named.push_back(name);
        const std::string file = out + "/" + name;  // the width in its header:
        EXPECT_EQ(fs::exists(file) ? readFile(file).substr(16, 4) : "", be32(pixels)) << what;
      }
      const bool done = std::to_string(k) == total;
      EXPECT_EQ(r.out, expected + (done ? "DONE\t" + total : "ERROR\tCANNOT_WRITE") + "\n") << what;
      EXPECT_EQ(r.exitCode, done ? 0 : 31) << what;
    }
    if (inTheWay) named.push_back("page_002.png");
    std::sort(named.begin(), named.end());
    EXPECT_EQ(listDir(out), named) << what;
  }
}

// The images job in the same systems: its document is never left behind,
// whatever the umask made of it, nor reported saved once another removed it; interrupted reads are
// read again; a status line the system took one byte of (strace answering 1 for the first write)
// goes on from the second byte.
TEST(Faults, ImagesJobUnderLimitsAndFailingCalls) {
  if (runsWindowsWorker()) GTEST_SKIP() << "POSIX limits and system calls";
  TempDir dir;
  for (const char* name : {"noise.bmp", "tiff-rgb.tif"})
    writeRawList(dir / (std::string(name) + ".list"), {wide(fixturePath(name))});
  // 5 KiB, a third of noise.bmp's PDF. The TIFF is read with positioned reads.
  const std::string tr = "exec strace " + noLeakCheck + " -qqo/dev/null",
                    tiff = fixturePath("tiff-rgb.tif"),
                    reads = tr + " -P'" + tiff + "' -P'" + dir / "tiff-rgb.tif.list" + "'",
                    pdf = dir / "out.pdf",
                    inPlace = tr + " -P'" + pdf + "' -P'" + dir.str() +
                              "' -einject=openat:error=EOPNOTSUPP:when=2";
  const std::tuple<const char*, std::string, int> cases[] = {
      {"a file-size limit", "ulimit -f 10; exec", 34},
      {"the same, umask 0222", "umask 0222; ulimit -f 10; exec", 34},
      {"another run removes the document",
       "(sleep 2; rm " + pdf + ") & " + inPlace + " -einject=fsync:delay_enter=5s:when=1", 34},
      {"a trap while the document is written in place", inPlace + " -einject=write:signal=TRAP",
       50},
      {"interrupted reads", reads + " -einject=read,pread64:error=EINTR:when=1+2", 0},
      {"one byte of a line taken", tr + " -einject=write:retval=1:when=1", 0},
  };
  for (const auto& [what, wrapper, code] : cases) {
    const std::string image = code ? "noise.bmp" : "tiff-rgb.tif";
    const RunResult r = runFolio({"--images", dir / (image + ".list"), "--output", pdf},
                                 {.wrapper = {"sh", "-c", wrapper + " \"$0\" \"$@\""}});
    EXPECT_EQ(r.out, (what[0] == 'o' ? "TART\t1\n" : "START\t1\n") + ("PROGRESS\t1\t1\t" + image) +
                         (code == 50 ? "\nERROR\tUNKNOWN\n"
                          : code     ? "\nERROR\tCANNOT_WRITE\n"
                                     : "\nDONE\t1\n"))
        << what;
    EXPECT_EQ(r.exitCode, code) << what;
    EXPECT_EQ(fs::exists(pdf), code == 0) << what;
    fs::remove(pdf);
  }
  // A library that aborts the process (PDFium, when its memory runs out,
  // traps: SIGTRAP here).
  writeRawList(dir / "many.list", std::vector<std::u16string>(10000, wide(fixturePath("dot.bmp"))));
  for (const std::string signal : {"ABRT", "TRAP", "ILL"}) {
    const RunResult r =
        runFolio({"--images", dir / "many.list", "--output", pdf},
                 {.wrapper = {"sh", "-c",
                              "rm -f " + dir / "o" + "; \"$0\" \"$@\" >" + dir / "o" +
                                  " & until grep -q PROGRESS " + dir / "o" +
                                  "; do sleep 0.05; done; kill -" + signal +
                                  " $!; wait $!; s=$?; cat " + dir / "o" + "; exit $s"}});
    EXPECT_TRUE(r.out.ends_with("\nERROR\tUNKNOWN\n")) << signal << r.out.size();
    EXPECT_EQ(r.exitCode, 50) << signal;
    EXPECT_FALSE(fs::exists(pdf)) << signal;
  }
}

// A disk filled to the last byte before the job starts, and one with room
// for the job to start but not for its document.
TEST(Faults, FullDisksLeaveNoFile) {
  TempDir dir;
  writeFile(dir / "doc.pdf", makePdf({PageSpec{}}));
  image(dir / "a.bmp");
  writeFile(dir / "noise.bmp", readFile(fixturePath("noise.bmp")));  // 12 KB that do not compress
  for (const bool filled : {true, false}) {
    const std::string disk = dir / (filled ? "filled" : "small");
    const ScopedTmpfs tmpfs(disk, filled ? 64 * 1024 : 8 * 1024);
    ASSERT_TRUE(tmpfs.mounted()) << tmpfs.error();
    if (filled) {
      tmpfs.fill("filler");
      const RunResult r = runFolio({"--input", dir / "doc.pdf", "--output", disk});
      EXPECT_EQ(r.out, "START\t1\nERROR\tDISK_FULL\n");
      EXPECT_EQ(r.exitCode, 31);
    }
    const std::string name = filled ? "a.bmp" : "noise.bmp";
    writeRawList(dir / "list", {wide(dir / name)});
    const RunResult r = runFolio({"--images", dir / "list", "--output", disk + "/out.pdf"});
    EXPECT_EQ(r.out, "START\t1\nPROGRESS\t1\t1\t" + name + "\nERROR\tDISK_FULL\n");
    EXPECT_EQ(r.exitCode, 34);
    EXPECT_EQ(listDir(disk),
              filled ? std::vector<std::string>{"filler"} : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace folio::test
