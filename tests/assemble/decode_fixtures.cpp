#include "decode_fixtures.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace folio::test {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr openOut(const std::string& path) {
  FilePtr f(std::fopen(path.c_str(), "wb"));
  if (!f) throw std::runtime_error("cannot create " + path);
  return f;
}

void put16(std::string& s, std::uint16_t v, bool big) {
  if (big) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
  } else {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  }
}

void put32(std::string& s, std::uint32_t v, bool big) {
  if (big) {
    put16(s, static_cast<std::uint16_t>(v >> 16), true);
    put16(s, static_cast<std::uint16_t>(v & 0xFFFF), true);
  } else {
    put16(s, static_cast<std::uint16_t>(v & 0xFFFF), false);
    put16(s, static_cast<std::uint16_t>(v >> 16), false);
  }
}

}  // namespace

void Picture::fill(std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1,
                   Colour c) {
  for (std::uint32_t y = y0; y < y1; ++y)
    for (std::uint32_t x = x0; x < x1; ++x) at(x, y) = c;
}

Picture quadrants(std::uint32_t width, std::uint32_t height) {
  Picture p(width, height);
  p.fill(0, 0, width / 2, height / 2, kRed);
  p.fill(width / 2, 0, width, height / 2, kGreen);
  p.fill(0, height / 2, width / 2, height, kBlue);
  p.fill(width / 2, height / 2, width, height, kYellow);
  return p;
}

std::string exifOrientationSegment(std::uint16_t type, std::uint32_t count, std::uint32_t value,
                                   bool big) {
  std::string s("Exif\0\0", 6);
  s += big ? "MM" : "II";
  put16(s, 42, big);
  put32(s, 8, big);   // IFD0 right after the header
  put16(s, 1, big);   // one entry
  put16(s, 274, big);
  put16(s, type, big);
  put32(s, count, big);
  // A value of up to four bytes sits in the entry itself, left-aligned.
  if (type == 3 && count == 1) {
    put16(s, static_cast<std::uint16_t>(value), big);
    put16(s, 0, big);
  } else if (type == 1 && count == 1) {
    s += static_cast<char>(value);
    s.append(3, '\0');
  } else {
    put32(s, value, big);
  }
  put32(s, 0, big);  // no further IFD
  return s;
}

void writeJpeg(const std::string& path, const Picture& picture, const JpegOptions& options) {
  writeJpeg(path, picture.width, picture.height,
            [&](std::uint32_t y, Colour* row) {
              std::copy_n(&picture.pixels[std::size_t{y} * picture.width], picture.width, row);
            },
            options);
}

void writeJpeg(const std::string& path, std::uint32_t width, std::uint32_t height,
               const std::function<void(std::uint32_t, Colour*)>& makeRow,
               const JpegOptions& options) {
  FilePtr out = openOut(path);
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out.get());
  cinfo.image_width = width;
  cinfo.image_height = height;
  const int components = options.grey ? 1 : options.cmyk ? 4 : 3;
  cinfo.input_components = components;
  cinfo.in_color_space = options.grey ? JCS_GRAYSCALE : options.cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, options.quality, TRUE);
  if (options.cmyk) {
    jpeg_set_colorspace(&cinfo, JCS_CMYK);
    cinfo.write_Adobe_marker = options.adobeInverted ? TRUE : FALSE;
  }
  // Full colour resolution, so small test pictures keep their colours.
  for (int i = 0; i < cinfo.num_components; ++i) {
    cinfo.comp_info[i].h_samp_factor = 1;
    cinfo.comp_info[i].v_samp_factor = 1;
  }
  cinfo.write_JFIF_header = options.densityUnit >= 0 ? TRUE : FALSE;
  if (options.densityUnit >= 0) {
    cinfo.density_unit = static_cast<UINT8>(options.densityUnit);
    cinfo.X_density = options.densityX;
    cinfo.Y_density = options.densityY;
  }
  jpeg_start_compress(&cinfo, TRUE);
  if (!options.app1.empty()) {
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(options.app1.data()),
                      static_cast<unsigned>(options.app1.size()));
  }
  std::vector<JSAMPLE> row(std::size_t{width} * components);
  std::vector<Colour> colours(width);
  for (std::uint32_t y = 0; y < height; ++y) {
    makeRow(y, colours.data());
    for (std::uint32_t x = 0; x < width; ++x) {
      const Colour c = colours[x];
      JSAMPLE* p = &row[std::size_t{x} * components];
      if (options.grey) {
        p[0] = c.g;
      } else if (options.cmyk) {
        // The simplest separation: no black ink, the inks the complements.
        const JSAMPLE inks[4] = {JSAMPLE(255 - c.r), JSAMPLE(255 - c.g), JSAMPLE(255 - c.b), 0};
        for (int i = 0; i < 4; ++i) p[i] = options.adobeInverted ? JSAMPLE(255 - inks[i]) : inks[i];
      } else {
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
}

void writePng(const std::string& path, const PngImage& image) {
  FilePtr out = openOut(path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out.get());
  png_set_compression_level(png, image.compression);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (std::size_t i = 0; i + 2 < image.palette.size(); i += 3)
    palette.push_back({image.palette[i], image.palette[i + 1], image.palette[i + 2]});
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!image.trnsAlpha.empty() || image.hasTrnsColour) {
    png_color_16 colour{0, image.trnsRed, image.trnsGreen, image.trnsBlue, image.trnsGrey};
    png_set_tRNS(png, info, image.trnsAlpha.empty() ? nullptr : image.trnsAlpha.data(),
                 static_cast<int>(image.trnsAlpha.size()),
                 image.hasTrnsColour ? &colour : nullptr);
  }
  if (image.physUnit >= 0) png_set_pHYs(png, info, image.physX, image.physY, image.physUnit);
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : image.rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
}

void writePng(const std::string& path, const Picture& picture) {
  PngImage image;
  image.width = picture.width;
  image.height = picture.height;
  image.colourType = PNG_COLOR_TYPE_RGBA;
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    std::vector<std::uint8_t> row;
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const Colour c = picture.pixels[std::size_t{y} * picture.width + x];
      row.insert(row.end(), {c.r, c.g, c.b, c.a});
    }
    image.rows.push_back(std::move(row));
  }
  writePng(path, image);
}

}  // namespace folio::test
