// What both codec back-ends hold PNG and TIFF headers to, so that a file
// whose headers declare far more work than its image can need is refused
// alike on every system, before a decoder reads it.
#pragma once

#include <cstdint>

#include "codecs/imaging.h"

namespace folio::codecs {

// Chunks are passed over at about 80 ns each, so a file of nothing but empty
// chunks could take seconds to reach its image. A writer that splits its data
// into chunks of one row each stays below this.
inline constexpr std::uint32_t kMaxPngChunks = std::uint32_t{1} << 20;
// Passed over at 300 MB/s, the metadata of a file near the size bound would
// take seconds; no image carries more than this beside its pixels.
inline constexpr std::uint64_t kMaxPngOtherData = 64 << 20;

// Colour, alpha and a few extra samples: no photograph carries more, and a
// decoder would inflate every one of them to read the first three.
inline constexpr std::uint32_t kMaxTiffSamples = 8;
// The most a directory may make a decoder inflate: the largest image within
// the pixel limit at the widest pixels read (8 samples of 16 bits). Strips
// or tiles reaching far past the image cost as much to inflate as pixels
// that are shown.
inline constexpr std::uint64_t kMaxTiffDecodedBytes = kMaxImagePixels * 16;

// Whether a TIFF image of width by height pixels, stored in pieces (strips
// or tiles) of pieceWidth by pieceHeight pixels that inflate to pieceBytes
// each, in planes planes, stays within that bound.
inline bool tiffPiecesFit(std::uint64_t width, std::uint64_t height, std::uint64_t pieceWidth,
                          std::uint64_t pieceHeight, std::uint64_t planes,
                          std::uint64_t pieceBytes) {
  if (pieceWidth == 0 || pieceHeight == 0 || planes == 0) return false;
  const std::uint64_t pieces =
      (width + pieceWidth - 1) / pieceWidth * ((height + pieceHeight - 1) / pieceHeight);
  return pieces != 0 && pieceBytes != 0 && pieceBytes <= kMaxTiffDecodedBytes / planes / pieces;
}

}  // namespace folio::codecs
