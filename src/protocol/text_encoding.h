// Strict conversion between the UTF-16 of paths and the UTF-8 of status lines
// and of PDFium's paths. Text that is not well-formed is never patched up:
// both directions throw std::runtime_error("character conversion failed").
#pragma once

#include <string>

namespace folio::protocol {

std::string wideToUtf8(const std::u16string& text);
std::u16string utf8ToWide(const std::string& text);

}  // namespace folio::protocol
