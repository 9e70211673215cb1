// The PDF-to-images job over mutated documents: whatever PDFium is given,
// the job answers with a result, writes only complete page files under their
// final names, and leaves no temporary file behind.
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_input.h"
#include "render/convert_pdf_to_images.h"

namespace {

// Pages go to a folder in memory, emptied before every input.
const std::filesystem::path& outputFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = "/dev/shm/folio-fuzz-pdf-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const auto& folder = outputFolder();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::filesystem::remove(entry.path());
  }
  folio::fuzz::InputFile input(data, size);
  int progressCalls = 0;
  const auto result = folio::render::convertPdfToImages(
      input.path(), folder.u16string(),
      [&](std::int32_t, std::int32_t, const std::string&) { ++progressCalls; });

  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".png") std::abort();  // a temporary file was left
    ++files;
  }
  // Every page reported is on disk, and no page is on disk unreported.
  if (files != (progressCalls > 0 ? progressCalls - 1 : 0)) std::abort();
  if (result.succeeded() && result.count != files) std::abort();
  if (!result.succeeded() && result.count != 0) std::abort();
  return 0;
}
