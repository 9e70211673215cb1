#pragma once

#include <string>

namespace folio::assemble {

// The name an image goes by in its PROGRESS line: the part of its path after
// the last slash or backslash, in UTF-8. "image" when that part is not valid
// text, or holds a tab, line feed or carriage return that would break the
// status line apart.
std::string displayNameOf(const std::u16string& path);

}  // namespace folio::assemble
