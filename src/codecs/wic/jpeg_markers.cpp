#include "codecs/wic/jpeg_markers.h"

#include <cstring>

#include "codecs/jpeg_forms.h"

namespace folio::codecs {
namespace {

std::uint32_t get16(const std::uint8_t* p, bool big) {
  return big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
}

std::uint32_t get32(const std::uint8_t* p, bool big) {
  return big ? (get16(p, true) << 16 | get16(p + 2, true))
             : (get16(p + 2, false) << 16 | get16(p, false));
}

// The Orientation tag (274) of IFD0 in an APP1 body ("Exif\0\0" and a TIFF
// structure), taken only as one SHORT or one LONG, as the libraries' reader
// takes it.
std::optional<std::uint32_t> orientationOf(const std::uint8_t* body, std::size_t size) {
  if (size < 14 || std::memcmp(body, "Exif\0\0", 6) != 0) return std::nullopt;
  const std::uint8_t* tiff = body + 6;
  const std::size_t length = size - 6;
  const bool big = tiff[0] == 'M' && tiff[1] == 'M';
  if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return std::nullopt;
  if (get16(tiff + 2, big) != 42) return std::nullopt;
  const std::uint32_t ifd = get32(tiff + 4, big);
  if (ifd > length - 2) return std::nullopt;
  const std::uint32_t count = get16(tiff + ifd, big);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = ifd + 2 + std::size_t{i} * 12;
    if (at + 12 > length) break;
    const std::uint8_t* entry = tiff + at;
    if (get16(entry, big) != 274) continue;
    const std::uint32_t type = get16(entry + 2, big);
    if (get32(entry + 4, big) != 1) return std::nullopt;
    if (type == 3) return get16(entry + 8, big);
    if (type == 4) return get32(entry + 8, big);
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

JpegHeader scanJpegHeader(const std::uint8_t* data, std::size_t size) {
  JpegHeader header;
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return header;
  ColourMarkers markers;
  bool sawExif = false;
  int precision = 0, components = 0;
  bool huffman = false;
  std::uint8_t ids[3] = {};
  std::size_t at = 2;
  for (;;) {
    while (at < size && data[at] == 0xFF) ++at;  // fill bytes
    if (at + 3 > size || data[at - 1] != 0xFF) return header;
    const std::uint8_t marker = data[at];
    const std::size_t length = get16(data + at + 1, true);
    if (length < 2 || at + 1 + length > size) return header;
    const std::uint8_t* body = data + at + 3;
    const std::size_t bodySize = length - 2;
    if (marker == 0xE0 && bodySize >= 5 && std::memcmp(body, "JFIF\0", 5) == 0) {
      markers.jfif = true;
      markers.shortSegment |= bodySize < kJfifSegmentBytes;
    }
    if (marker == 0xE1 && !sawExif && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
      sawExif = true;
      header.exifOrientation = orientationOf(body, bodySize);
    }
    if (marker == 0xEE && bodySize >= 5 && std::memcmp(body, "Adobe", 5) == 0) {
      if (bodySize < kAdobeSegmentBytes) {
        markers.shortSegment = true;
      } else {
        markers.conflicting |= markers.adobeTransform && *markers.adobeTransform != body[11];
        markers.adobeTransform = body[11];
      }
    }
    // Start of frame: baseline, extended and progressive Huffman coding
    // are C0 to C2; the other frame types are lossless, hierarchical or
    // arithmetic-coded.
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      if (components != 0 || bodySize < 6) return header;
      huffman = marker <= 0xC2;
      precision = body[0];
      components = body[5];
      if (bodySize < 6 + std::size_t(components) * 3) return header;
      for (int i = 0; i < components && i < 3; ++i) ids[i] = body[6 + i * 3];
    }
    if (marker == 0xDA) break;
    if (marker == 0xD9) return header;
    at += 1 + length;
  }
  header.complete = true;
  if (!huffman || precision != 8) return header;
  if (components == 1) {
    header.placeable = JpegColours::grey;
  } else if (components == 3) {
    header.placeable = agreedColours(markers, ids);
  }
  return header;
}

JpegExtent measureJpeg(const std::uint8_t* data, std::size_t size) {
  JpegExtent extent;
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return extent;
  std::size_t at = 2;
  while (at + 1 < size) {
    if (data[at] != 0xFF) {  // entropy-coded data, up to the next marker
      ++at;
      continue;
    }
    const std::uint8_t marker = data[at + 1];
    // A stuffed zero, a restart marker or a fill byte belongs to the data.
    if (marker == 0x00 || marker == 0xFF || (marker >= 0xD0 && marker <= 0xD7)) {
      at += marker == 0xFF ? 1 : 2;
      continue;
    }
    if (marker == 0xD9) {
      extent.end = at + 2;
      return extent;
    }
    if (marker == 0xDA && ++extent.scans > kMaxJpegScans) return extent;
    if (at + 4 > size) break;
    at += 2 + get16(data + at + 2, true);  // the segment; a scan's data follows it
  }
  return extent;
}

}  // namespace folio::codecs
