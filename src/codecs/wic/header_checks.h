// Our own look at a file's headers before the imaging component reads it:
// the bounds that the other back-end's readers hold PNG and TIFF files to,
// found by seeking through the file rather than decoding it.
#pragma once

#include <string>

namespace folio::codecs {

// Whether the file at path is a PNG or a TIFF whose headers declare more
// work than its image can need. False for every other file, and for one
// that cannot be read: the component then judges it.
bool headersExceedBounds(const std::u16string& path);

}  // namespace folio::codecs
