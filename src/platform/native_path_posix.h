// Paths on a system that names files by bytes: how the command line's bytes
// become UTF-16 and how a UTF-16 path becomes bytes again.
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

}  // namespace folio::platform
