// One image file turned into upright pixels flattened onto white.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/imaging.h"

namespace folio::assemble {

struct DecodedImage {
  std::uint32_t width = 0;   // upright width in pixels
  std::uint32_t height = 0;  // upright height in pixels
  std::uint32_t stride = 0;  // width * 3 rounded up to a multiple of 4
  double dpiX = 96.0;        // resolution of the upright image; 96 when the file gives none
  double dpiY = 96.0;
  // stride * height bytes, rows top to bottom, blue, green, red; row padding 0xFF.
  std::vector<std::uint8_t> pixels;
};

// Decodes the first frame of the file at path into image. False on any
// failure; the record must not be used then.
bool decodeImage(codecs::ImagingFactory* factory, const std::u16string& path,
                 DecodedImage* image);

}  // namespace folio::assemble
