// Paths travel through Folio as UTF-16 strings. These functions are the one
// bridge between that form and the bytes the operating system uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace folio::platform {

// Turns one command-line argument, as the system delivered it, into UTF-16
// without losing anything: well-formed UTF-8 is decoded and every other byte
// becomes the lone surrogate U+DC00 + byte, so that nativePath() gives the
// very same bytes back.
std::u16string argumentToWide(std::string_view bytes);

// The system's form of a path, or nothing when the path cannot be expressed
// there (a lone surrogate that is not an escaped byte). A zero unit ends the
// path, as it does for every system call that takes a terminated string.
std::optional<std::string> nativePath(const std::u16string& path);

// The narrow form of a path for a library that opens files by a narrow path
// (PDFium), naming the same file the platform's own calls open, or nothing
// when there is no such form. A zero unit ends the path here too.
std::optional<std::string> libraryPath(const std::u16string& path);

}  // namespace folio::platform
