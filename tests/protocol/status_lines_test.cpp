#include <gtest/gtest.h>

#include <climits>

#include "protocol/job_result.h"
#include "protocol/status_lines.h"

namespace folio::protocol {
namespace {

TEST(StatusLines, BuildersGiveExactBytes) {
  struct Case {
    std::string line;
    std::string expected;
  };
  const Case cases[] = {
      {makeStartLine(3), std::string("START\t3\n")},
      {makeStartLine(0), "START\t0\n"},
      {makeStartLine(INT32_MIN), "START\t-2147483648\n"},
      {makeProgressLine(1, 3, "abcdefghij"), "PROGRESS\t1\t3\tabcdefghij\n"},
      {makeProgressLine(12, 12, "page_012.png"), "PROGRESS\t12\t12\tpage_012.png\n"},
      {makeProgressLine(-1, INT32_MAX, ""), "PROGRESS\t-1\t2147483647\t\n"},
      {makeProgressLine(2, 2, "\xC3\xA9t\xC3\xA9.jpg"), "PROGRESS\t2\t2\t\xC3\xA9t\xC3\xA9.jpg\n"},
      {makeDoneLine(0), "DONE\t0\n"},
      {makeDoneLine(-5), "DONE\t-5\n"},
      {makeDoneLine(INT32_MIN), "DONE\t-2147483648\n"},
      {makeErrorLine("BAD_ARGUMENTS"), "ERROR\tBAD_ARGUMENTS\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.line, c.expected);
  EXPECT_EQ(makeStartLine(3).size(), 8u);
  EXPECT_EQ(makeProgressLine(1, 3, "abcdefghij").size(), 24u);
  EXPECT_EQ(makeErrorLine("BAD_ARGUMENTS").size(), 20u);
}

TEST(StatusLines, ReportErrorWritesOneLineAndReturnsTheCode) {
  testing::internal::CaptureStdout();
  const int code = reportError(results::cannotWritePage);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR\tCANNOT_WRITE\n");
  EXPECT_EQ(code, 31);
}

TEST(JobResults, FailureAndSuccessShapes) {
  const JobResult unset;
  EXPECT_NE(unset.result.code, 0);  // never mistaken for success
  EXPECT_EQ(std::string(unset.result.name), "UNKNOWN");

  const JobResult failure = makeErrorResult(results::diskFullPdf);
  EXPECT_EQ(failure.result.code, 34);
  EXPECT_EQ(std::string(failure.result.name), "DISK_FULL");
  EXPECT_EQ(failure.count, 0);

  const JobResult success = makeSuccessResult(12);
  EXPECT_EQ(success.result.code, 0);
  EXPECT_EQ(std::string(success.result.name), "");
  EXPECT_EQ(success.count, 12);
}

}  // namespace
}  // namespace folio::protocol
