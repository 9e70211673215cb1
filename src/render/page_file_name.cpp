#include "render/page_file_name.h"

namespace folio::render {

std::string makePageFileName(std::int32_t pageNumber, std::int32_t pageCount) {
  size_t countDigits = 1;
  for (std::int32_t rest = pageCount; rest > 9; rest /= 10) ++countDigits;
  const size_t width = countDigits > 3 ? countDigits : 3;
  std::string digits = std::to_string(pageNumber);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return "page_" + digits + ".png";
}

}  // namespace folio::render
