#include <gtest/gtest.h>

#include "assemble/save_pdf_to_file.h"

namespace folio::assemble {
namespace {

TEST(WriteBlockToFile, EmptyBlocksNeedNoWriteAndFailuresAreRemembered) {
  platform::File closed;  // every write to it fails
  PdfFileSink sink{{1, writeBlockToFile}, &closed, platform::IoStatus::ok};
  EXPECT_EQ(writeBlockToFile(&sink.header, "", 0), 1);
  EXPECT_EQ(sink.lastError, platform::IoStatus::ok);
  EXPECT_EQ(writeBlockToFile(&sink.header, "abc", 3), 0);
  EXPECT_EQ(sink.lastError, platform::IoStatus::other);
}

}  // namespace
}  // namespace folio::assemble
