// What both codec back-ends hold a JPEG to: how many scans its data may take,
// and how the readers of a PDF tell the colours of three components, so that
// the data is placed as stored only where they must all read it alike.
#pragma once

#include <cstdint>
#include <optional>

#include "codecs/imaging.h"

namespace folio::codecs {

// Encoders write a handful of scans: libjpeg's own progressions at most 18
// for four components, photo tools fewer. Each scan passes over every block
// of its components however few bytes it holds, so a file of many near-empty
// scans costs seconds for nothing: 8 ms a scan at 8192 by 8192 pixels here.
inline constexpr int kMaxJpegScans = 64;

// libjpeg reads a JFIF segment of at least this many bytes, and the transform
// of an Adobe segment of at least 12; a shorter one it passes over.
inline constexpr unsigned kJfifSegmentBytes = 14;
inline constexpr unsigned kAdobeSegmentBytes = 12;

// What a JPEG's segments say of its three components.
struct ColourMarkers {
  bool jfif = false;                           // YCbCr, says JFIF
  std::optional<std::uint8_t> adobeTransform;  // 0: RGB, 1: YCbCr
  bool shortSegment = false;                   // a JFIF or Adobe segment libjpeg passes over
  bool conflicting = false;                    // Adobe segments that differ
};

// Readers weigh the signs differently: libjpeg-turbo lets JFIF win over the
// Adobe transform, and reads the component ids only when neither is there;
// poppler and MuPDF follow the Adobe transform, else the document's
// /ColorTransform, which PDFium writes from libjpeg's reading; IJG's libjpeg 9
// reads the ids first. So colours are agreed only when every sign present
// says the same; none when any two differ or a reader would have to guess.
inline std::optional<JpegColours> agreedColours(const ColourMarkers& m, const std::uint8_t ids[3]) {
  if (m.shortSegment || m.conflicting) return std::nullopt;
  bool rgb = false, ycbcr = m.jfif;
  if (m.adobeTransform == 0) {
    rgb = true;
  } else if (m.adobeTransform == 1) {
    ycbcr = true;
  } else if (m.adobeTransform) {
    return std::nullopt;
  }
  const auto idsAre = [ids](int a, int b, int c) {
    return ids[0] == a && ids[1] == b && ids[2] == c;
  };
  if (idsAre('R', 'G', 'B')) {
    rgb = true;
  } else if (idsAre(1, 2, 3)) {
    ycbcr = true;
  } else if (idsAre('r', 'g', 'b') || idsAre(1, 0x22, 0x23)) {
    return std::nullopt;  // libjpeg 9's big-gamut forms
  }
  if (rgb && ycbcr) return std::nullopt;
  return rgb ? JpegColours::rgb : JpegColours::ycbcr;
}

}  // namespace folio::codecs
