// Writes one rendered page as a PNG file, all or nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/new_file.h"

namespace folio::render {

// Encodes the page (rows of blue, green, red bytes, stride bytes apart) as a
// PNG at target. The file takes the target name only once it is complete
// and on the disk, so nobody ever sees half a page; an existing file at
// target is never replaced. Until then it has no name, or, where the file
// system cannot hold a file without one, target + ".tmp". On ok, written
// holds the named file, which keeps its name only once the caller keeps it
// (having reported the page); otherwise nothing of it is left under either
// name. Bad arguments are IoStatus::other.
platform::IoStatus writePngFile(const std::u16string& target, const std::uint8_t* pixels,
                                std::uint32_t width, std::uint32_t height, std::uint32_t stride,
                                platform::NewFile& written);

}  // namespace folio::render
