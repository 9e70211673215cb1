// The image list reader over arbitrary bytes: it must answer true or false,
// never crash, never reserve text for entries the file does not hold, and on
// true hand back exactly count entries within the limits.
#include <cstdlib>

#include "fuzz_input.h"
#include "protocol/image_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  folio::fuzz::InputFile input(data, size);
  std::vector<std::u16string> images{u"sentinel"};
  if (!folio::protocol::readImageList(input.path(), images)) {
    if (images.size() != 1 || images[0] != u"sentinel") std::abort();
    return 0;
  }
  if (images.empty() || images.size() > folio::protocol::kMaxImageCount) std::abort();
  for (const auto& path : images) {
    if (path.empty() || path.size() > folio::protocol::kMaxPathUnits) std::abort();
  }
  return 0;
}
