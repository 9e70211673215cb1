// Writes one rendered page as a PNG file, all or nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"

namespace folio::render {

// Encodes the page (rows of blue, green, red bytes, stride bytes apart) as a
// PNG at target. The file is written under target + ".tmp" and takes the
// target name only once it is complete and on the disk, so nobody ever sees
// half a page; an existing file at target is never replaced. Whenever the
// result is not ok, nothing is left at target or at the temporary name; bad
// arguments are IoStatus::other.
platform::IoStatus writePngFile(const std::u16string& target, const std::uint8_t* pixels,
                                std::uint32_t width, std::uint32_t height, std::uint32_t stride);

}  // namespace folio::render
