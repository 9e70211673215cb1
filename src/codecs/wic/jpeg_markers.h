// A JPEG's header read by our own marker scan, for what the imaging
// component does not report: how the data is coded, and, where the
// component exposes no metadata, the EXIF orientation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codecs/imaging.h"

namespace folio::codecs {

struct JpegHeader {
  bool complete = false;  // the first scan was reached: the rest is data
  std::optional<JpegColours> placeable;
  std::optional<std::uint32_t> exifOrientation;
};

// Scans the markers of a JPEG file's first size bytes up to its first scan.
JpegHeader scanJpegHeader(const std::uint8_t* data, std::size_t size);

// Where a whole JPEG's image ends, just past its end marker (0 when the data
// ends first), and how many scans it holds up to there.
struct JpegExtent {
  std::size_t end = 0;
  int scans = 0;
};
JpegExtent measureJpeg(const std::uint8_t* data, std::size_t size);

}  // namespace folio::codecs
