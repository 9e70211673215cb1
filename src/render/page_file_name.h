// How page files are named.
#pragma once

#include <cstdint>
#include <string>

namespace folio::render {

// "page_" + pageNumber padded with zeros to at least three digits, and to as
// many digits as pageCount has, + ".png". All names of one document have the
// same length, so they sort in page order.
std::string makePageFileName(std::int32_t pageNumber, std::int32_t pageCount);

}  // namespace folio::render
