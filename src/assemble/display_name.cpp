#include "assemble/display_name.h"

#include "protocol/text_encoding.h"

namespace folio::assemble {

std::string displayNameOf(const std::u16string& path) {
  try {
    const size_t separator = path.find_last_of(u"\\/");
    const std::u16string name =
        separator == std::u16string::npos ? path : path.substr(separator + 1);
    if (name.find_first_of(u"\t\n\r") != std::u16string::npos) return "image";
    return protocol::wideToUtf8(name);
  } catch (...) {
    return "image";
  }
}

}  // namespace folio::assemble
