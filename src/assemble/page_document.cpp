#include "assemble/page_document.h"

#include <charconv>
#include <cstring>
#include <new>
#include <string>

#include "codecs/png_encoder.h"

namespace folio::assemble {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Whether the PNG file at png says what the image object says of its data:
// width by height pixels of 8-bit red, green, blue, the rows in order, each
// with its filter byte.
bool holdsRowsAsPlaced(const std::uint8_t* png, size_t size, std::uint32_t width,
                       std::uint32_t height) {
  constexpr std::uint8_t kHeader[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  // Bit depth, colour type, compression, filter method, interlace method.
  constexpr std::uint8_t kForm[] = {8, 2, 0, 0, 0};
  return size >= 29 && std::memcmp(png + 8, kHeader, 8) == 0 && be32(png + 16) == width &&
         be32(png + 20) == height && std::memcmp(png + 24, kForm, 5) == 0;
}

// Keeps of the PNG file that starts at from in bytes only its IDAT chunks'
// data, joined, moved down in place. False when the file is not laid out as
// the encoder lays it out, or holds other rows than the image object says.
bool keepImageData(Bytes* bytes, size_t from, std::uint32_t width, std::uint32_t height) {
  if (!holdsRowsAsPlaced(bytes->data() + from, bytes->size() - from, width, height)) return false;
  constexpr size_t kSignature = 8;
  size_t at = from + kSignature, kept = from;
  bool ended = false;
  while (!ended && bytes->size() - at >= 12) {
    const std::uint32_t length = be32(bytes->data() + at);
    if (length > bytes->size() - at - 12) return false;
    const std::uint8_t* type = bytes->data() + at + 4;
    if (std::memcmp(type, "IDAT", 4) == 0) {
      std::memmove(bytes->data() + kept, bytes->data() + at + 8, length);
      kept += length;
    }
    ended = std::memcmp(type, "IEND", 4) == 0;
    at += 12 + size_t{length};
  }
  if (!ended || kept == from) return false;
  bytes->resize(kept);
  return true;
}

// A number as PDF writes it: no exponent, and as many digits as bring back
// the same single-precision value, which is what readers hold.
std::string number(double value) {
  char text[64];
  const auto result =
      std::to_chars(text, text + sizeof text, static_cast<float>(value), std::chars_format::fixed);
  return std::string(text, result.ptr);
}

}  // namespace

bool writePageDocument(const DecodedImage& image, double pageWidth, double pageHeight, Bytes* out) {
  try {
    const std::string w = number(pageWidth), h = number(pageHeight);
    const std::string columns = std::to_string(image.width);
    std::string text = "%PDF-1.7\n";
    std::vector<size_t> offsets;
    // Objects go into text, which goes to out before the image and after it.
    const auto object = [&](const std::string& body) {
      offsets.push_back(out->size() + text.size());
      text += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    out->clear();
    object("<</Type/Catalog/Pages 2 0 R>>");
    object("<</Type/Pages/Kids[3 0 R]/Count 1>>");
    object("<</Type/Page/Parent 2 0 R/MediaBox[0 0 " + w + " " + h +
           "]/Resources<</XObject<</Im0 4 0 R>>>>/Contents 5 0 R>>");
    // The image's length is known only once it is compressed: object 6 holds it.
    object("<</Type/XObject/Subtype/Image/Width " + columns + "/Height " +
           std::to_string(image.height) +
           "/ColorSpace/DeviceRGB/BitsPerComponent 8/Filter/FlateDecode/DecodeParms<</Predictor "
           "15/Colors 3/BitsPerComponent 8/Columns " +
           columns + ">>/Length 6 0 R>>\nstream");
    text.resize(text.size() - std::strlen("\nendobj\n"));
    text += "\n";
    // The compressed rows go straight after the text, into room made for the
    // most they can take (untouched room costs no memory), and are then
    // freed of the PNG file's framing in place: the image is never copied.
    const std::uint64_t rows = (std::uint64_t{image.width} * 3 + 1) * image.height;
    out->reserve(text.size() + rows + rows / 512 + 4096);
    out->assign(text.begin(), text.end());
    const size_t start = out->size();
    const codecs::BgrImage view{image.pixels.data(), image.width, image.height, image.stride};
    const codecs::IoStatus encoded =
        codecs::encodePng(view, [out](const std::uint8_t* data, size_t size) {
          out->insert(out->end(), data, data + size);
          return codecs::IoStatus::ok;
        });
    if (encoded != codecs::IoStatus::ok || !keepImageData(out, start, image.width, image.height))
      return false;
    const size_t length = out->size() - start;

    const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q";
    text = "\nendstream\nendobj\n";
    object("<</Length " + std::to_string(content.size()) + ">>\nstream\n" + content +
           "\nendstream");
    object(std::to_string(length));
    const size_t table = out->size() + text.size();
    text += "xref\n0 7\n0000000000 65535 f \n";
    for (const size_t offset : offsets) {
      const std::string digits = std::to_string(offset);
      text += std::string(10 - digits.size(), '0') + digits + " 00000 n \n";
    }
    text += "trailer\n<</Size 7/Root 1 0 R>>\nstartxref\n" + std::to_string(table) + "\n%%EOF\n";
    out->insert(out->end(), text.begin(), text.end());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace folio::assemble
