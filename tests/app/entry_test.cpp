// The worker's front door, through the real binary: the exact bytes on
// standard output and the exit code for every way a command line can be
// wrong, and the checks of each job's input and output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/pdf_fixtures.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace folio::test {
namespace {

using Args = std::vector<std::string>;

TEST(Entry, CommandLinesAndTheirInputsAndOutputs) {
  TempDir dir;
  const std::string out = dir / "out", missing = dir / "missing-dir", list = dir / "out.pdf";
  const std::string beyondAscii = "r\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5.pdf",
                    latin1 = "r\xE9sum\xE9.pdf";
  for (const char* folder : {"x.pdf", "docs.archive", "out"})
    std::filesystem::create_directory(dir / folder);
  for (const char* name : {"Report.PDF", "report.pdf.bak", "report.pdfx", ".pdf", "plain.pdf",
                           "docs.archive/report", "noext", beyondAscii.c_str(), latin1.c_str()}) {
    writeFile(dir / name, makePdf({PageSpec{}}));
  }
  writeFile(dir / "empty-list", "");
  ASSERT_EQ(mkfifo((dir / "pipe.pdf").c_str(), 0600), 0);  // never waited on
  std::vector<std::tuple<Args, std::string, int>> cases;
  for (const Args& args :
       std::vector<Args>{{},
                         {"--input", "a.pdf", "--output"},
                         {"--input", "a.pdf", "--output", "out", "extra"},
                         {"--input", "a.pdf", "--output", "out", "extra", "more"},
                         {"--output", "out", "--input", "a.pdf"},
                         {"--INPUT", "a.pdf", "--output", "out"},
                         {"--input=a.pdf", "x", "--output", "out"},
                         {"--input", "a.pdf", "--output=out", "x"},
                         {"--images", "list", "--OUTPUT", "out.pdf"},
                         {"-input", "a.pdf", "--output", "out"},
                         {"", "", "", ""}}) {
    cases.push_back({args, "ERROR\tBAD_ARGUMENTS\n", 10});
  }
  // The name with 0xE8 shows that the check looked for the file named with 0xE9.
  for (const char* input : {"report.pdf.bak", "report.pdfx", "x.pdf", "docs.archive/report",
                            "noext", "pipe.pdf", "missing.pdf", "r\xE8sum\xE9.pdf"}) {
    cases.push_back({{"--input", dir / input, "--output", out}, "ERROR\tCANNOT_READ\n", 20});
  }
  cases.push_back(
      {{"--input", dir / "missing.pdf", "--output", missing}, "ERROR\tCANNOT_READ\n", 20});
  cases.push_back({{"--input", "", "--output", out}, "ERROR\tCANNOT_READ\n", 20});
  for (const std::string& output : {dir / "plain.pdf", missing, std::string()}) {
    cases.push_back(
        {{"--input", dir / "plain.pdf", "--output", output}, "ERROR\tCANNOT_WRITE\n", 31});
  }
  // Accepted means the job ran to its end: the one-page document was rendered
  // into a fresh folder ("NEW").
  for (const std::string& input : {std::string("Report.PDF"), std::string(".pdf"),
                                   std::string("plain.pdf"), beyondAscii, latin1}) {
    cases.push_back({{"--input", dir / input, "--output", "NEW"},
                     "START\t1\nPROGRESS\t1\t1\tpage_001.png\nDONE\t1\n",
                     0});
  }
  for (const std::string& list : {dir / "missing", dir / "empty-list", dir.str()}) {
    cases.push_back(
        {{"--images", list, "--output", dir / "out.pdf"}, "ERROR\tIMAGE_READ_FAILED\n", 33});
  }
  std::string skipped;
  for (size_t i = 0; i < cases.size(); ++i) {
    auto [args, expected, code] = cases[i];
    // Observed under Wine: stray bytes do not survive the trip to UTF-16, and
    // the name with 0xE8 opens the file named with 0xE9.
    if (args.size() > 1 && args[1].find('\xE9') != std::string::npos &&
        leftOutOnWindows(&skipped, "row " + std::to_string(i) + ", a name that is not UTF-8",
                         "Windows names are UTF-16")) {
      continue;
    }
    if (args.size() == 4 && args[3] == "NEW") {
      args[3] = dir / ("new" + std::to_string(i));
      std::filesystem::create_directory(args[3]);
    }
    const RunResult r = runFolio(args);
    EXPECT_EQ(r.out, expected) << "row " << i;
    EXPECT_EQ(std::make_tuple(r.exitCode, r.signal, r.err), std::make_tuple(code, 0, std::string()))
        << "row " << i;
  }
  EXPECT_FALSE(std::filesystem::exists(missing));  // never created
  EXPECT_FALSE(std::filesystem::exists(list));
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
}  // namespace folio::test
