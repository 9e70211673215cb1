#include "support/image_files.h"

#include <stdio.h>

#include <jpeglib.h>

#include <stdexcept>
#include <vector>

#include "support/temp_dir.h"

namespace folio::test {
namespace {

void put16le(std::string& out, std::uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
void put32le(std::string& out, std::uint32_t v) {
  put16le(out, v & 0xFFFF);
  put16le(out, v >> 16);
}

// A minimal EXIF block: one IFD0 entry, Orientation as a SHORT.
std::string exifWithOrientation(std::uint16_t orientation) {
  std::string exif("Exif\0\0", 6);
  exif += "II*";
  exif += '\0';
  put32le(exif, 8);  // IFD0 offset
  put16le(exif, 1);  // one entry
  put16le(exif, 274);
  put16le(exif, 3);  // SHORT
  put32le(exif, 1);
  put16le(exif, orientation);
  put16le(exif, 0);
  put32le(exif, 0);  // no next IFD
  return exif;
}

}  // namespace

void writeJpeg(const std::string& path, std::uint32_t width, std::uint32_t height,
               const PixelAt& pixel, std::uint16_t dpi, std::uint16_t orientation) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot create " + path);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  cinfo.density_unit = dpi ? 1 : 0;
  cinfo.X_density = dpi ? dpi : 1;
  cinfo.Y_density = dpi ? dpi : 1;
  jpeg_start_compress(&cinfo, TRUE);
  if (orientation != 0) {
    const std::string exif = exifWithOrientation(orientation);
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.data()),
                      static_cast<unsigned>(exif.size()));
  }
  std::vector<JSAMPLE> row(static_cast<size_t>(width) * 3);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const Rgb c = pixel(x, y);
      row[x * 3] = c.red;
      row[x * 3 + 1] = c.green;
      row[x * 3 + 2] = c.blue;
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  fclose(file);
}

void writeBmp(const std::string& path, std::uint32_t width, std::uint32_t height,
              const PixelAt& pixel, std::uint32_t pixelsPerMetre) {
  const std::uint32_t rowBytes = (width * 3 + 3) & ~3u;
  std::string out = "BM";
  put32le(out, 54 + rowBytes * height);
  put32le(out, 0);
  put32le(out, 54);
  put32le(out, 40);
  put32le(out, width);
  put32le(out, height);  // positive: rows stored bottom-up
  put16le(out, 1);
  put16le(out, 24);
  put32le(out, 0);
  put32le(out, rowBytes * height);
  put32le(out, pixelsPerMetre);
  put32le(out, pixelsPerMetre);
  put32le(out, 0);
  put32le(out, 0);
  for (std::uint32_t row = 0; row < height; ++row) {
    const std::uint32_t y = height - 1 - row;
    std::string line(rowBytes, '\0');
    for (std::uint32_t x = 0; x < width; ++x) {
      const Rgb c = pixel(x, y);
      line[x * 3] = char(c.blue);
      line[x * 3 + 1] = char(c.green);
      line[x * 3 + 2] = char(c.red);
    }
    out += line;
  }
  writeFile(path, out);
}

}  // namespace folio::test
