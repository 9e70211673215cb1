// One image file turned into upright pixels flattened onto white.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "assemble/upright.h"
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

// What a frame's header alone says of its upright image: the turn that
// makes it upright, and its size and resolution once turned.
struct UprightFrame {
  Transform transform = Transform::none;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double dpiX = 96.0;
  double dpiY = 96.0;
};

// None when the image is empty or larger than the decoder takes (256 MiB at
// 4 bytes a pixel), which is known before any pixel is allocated.
std::optional<UprightFrame> uprightFrameOf(const codecs::FrameInfo& info);

// Decodes an opened frame into image. False on any failure; the record must
// not be used then.
bool decodeFrame(codecs::ImageFrame* frame, DecodedImage* image);

// Opens the file at path and decodes its first frame into image.
bool decodeImage(codecs::ImagingFactory* factory, const std::u16string& path, DecodedImage* image);

}  // namespace folio::assemble
