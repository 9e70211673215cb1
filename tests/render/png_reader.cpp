#include "png_reader.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

#include "support/process.h"

namespace folio::test {
namespace {

struct Source {
  const std::string* bytes;
  size_t offset;
};

void readFromString(png_structp png, png_bytep out, size_t size) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (source->offset + size > source->bytes->size()) png_error(png, "unexpected end of data");
  std::memcpy(out, source->bytes->data() + source->offset, size);
  source->offset += size;
}

void raiseError(png_structp, png_const_charp message) { throw std::runtime_error(message); }
void ignoreWarning(png_structp, png_const_charp) {}

}  // namespace

DecodedPng decodePng(const std::string& bytes) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, raiseError, ignoreWarning);
  png_infop info = png_create_info_struct(png);
  Source source{&bytes, 0};
  DecodedPng result;
  try {
    png_set_read_fn(png, &source, readFromString);
    png_read_info(png, info);
    result.width = png_get_image_width(png, info);
    result.height = png_get_image_height(png, info);
    result.bitDepth = png_get_bit_depth(png, info);
    result.colorType = png_get_color_type(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit)) {
      result.hasPhys = true;
      result.physX = x;
      result.physY = y;
      result.physUnit = unit;
    }
    if (result.colorType != PNG_COLOR_TYPE_RGB || result.bitDepth != 8) {
      throw std::runtime_error("not 8-bit truecolour");
    }
    result.rgb.resize(size_t{result.width} * 3 * result.height);
    std::vector<png_bytep> rows(result.height);
    for (png_uint_32 r = 0; r < result.height; ++r) {
      rows[r] = result.rgb.data() + size_t{r} * result.width * 3;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
  } catch (...) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

std::string pngcheckProblems(const std::string& path) {
  const RunResult r = runProgram({"/usr/bin/pngcheck", "-q", path});
  if (r.exitCode == 0) return std::string();
  return r.out + r.err + " (exit " + std::to_string(r.exitCode) + ")";
}

}  // namespace folio::test
