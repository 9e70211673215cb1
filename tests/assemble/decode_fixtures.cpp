#include "decode_fixtures.h"

#include "platform/native_path_posix.h"
#include "support/temp_dir.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

Decoded decodePath(const std::string& path) {
  const auto factory = codecs::createImagingFactory();
  Decoded d;
  d.ok = assemble::decodeImage(factory.get(), platform::argumentToWide(path), &d.image);
  return d;
}

Colour pixelAt(const assemble::DecodedImage& image, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p = &image.pixels[std::size_t{y} * image.stride + std::size_t{x} * 3];
  return {p[0], p[1], p[2]};
}

::testing::AssertionResult near(Colour seen, Colour want, int tolerance) {
  const auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
  if (off(seen.b, want.b) || off(seen.g, want.g) || off(seen.r, want.r)) {
    return ::testing::AssertionFailure()
           << "got " << int(seen.r) << "," << int(seen.g) << "," << int(seen.b) << " want "
           << int(want.r) << "," << int(want.g) << "," << int(want.b);
  }
  return ::testing::AssertionSuccess();
}

void expectWellFormed(const assemble::DecodedImage& image) {
  const std::uint32_t stride = (image.width * 3 + 3) & ~3u;
  ASSERT_EQ(image.stride, stride);
  ASSERT_EQ(image.pixels.size(), std::size_t{stride} * image.height);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    for (std::uint32_t i = image.width * 3; i < stride; ++i) {
      ASSERT_EQ(image.pixels[std::size_t{y} * stride + i], 0xFF) << "padding of row " << y;
    }
  }
}

namespace {

long long statusField(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name, 0) == 0) return std::atoll(line.c_str() + std::strlen(name) + 1) * 1024;
  }
  ADD_FAILURE() << "no " << name;
  return 0;
}

}  // namespace

PeakMemory::PeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  start_ = statusField("VmHWM");
}

long long PeakMemory::growth() const { return statusField("VmHWM") - start_; }

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
  if (options.rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
  if (options.progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = options.arithmetic ? TRUE : FALSE;
  // Full colour resolution, so small test pictures keep their colours.
  for (int i = 0; i < cinfo.num_components && !options.subsampled; ++i) {
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

void writeGif(const std::string& path, std::uint16_t width, std::uint16_t height,
              const std::vector<Colour>& globalColours, const std::vector<GifFrameImage>& frames) {
  // Colour tables hold a power of two entries.
  const auto makeMap = [](const std::vector<Colour>& colours) -> ColorMapObject* {
    if (colours.empty()) return nullptr;
    int size = 2;
    while (size < static_cast<int>(colours.size())) size *= 2;
    std::vector<GifColorType> entries(static_cast<size_t>(size), GifColorType{0, 0, 0});
    for (size_t i = 0; i < colours.size(); ++i)
      entries[i] = GifColorType{colours[i].r, colours[i].g, colours[i].b};
    return GifMakeMapObject(size, entries.data());
  };
  int error = 0;
  GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
  if (gif == nullptr) throw std::runtime_error("cannot create " + path);
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = makeMap(globalColours);
  EGifPutScreenDesc(gif, width, height, 8, 0, global);
  for (const auto& frame : frames) {
    if (frame.transparent >= 0) {
      GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 10, frame.transparent};
      GifByteType block[4];
      const size_t n = EGifGCBToExtension(&control, block);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), block);
    }
    ColorMapObject* local = makeMap(frame.localColours);
    EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced,
                     local);
    std::vector<int> order;
    if (frame.interlaced) {
      const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < frame.height; y += step[pass]) order.push_back(y);
    } else {
      for (int y = 0; y < frame.height; ++y) order.push_back(y);
    }
    for (const int y : order) {
      auto* row = const_cast<GifPixelType*>(&frame.indices[std::size_t(y) * frame.width]);
      EGifPutLine(gif, row, frame.width);
    }
    GifFreeMapObject(local);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
}

void writeTiff(const std::string& path, const std::vector<TiffPage>& pages) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  if (tiff == nullptr) throw std::runtime_error("cannot create " + path);
  for (const auto& page : pages) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, page.orientation);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
    if (!page.extraSamples.empty()) {
      TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(page.extraSamples.size()),
                   page.extraSamples.data());
    }
    if (!page.colourMap.empty()) {
      const std::size_t n = page.colourMap.size() / 3;
      TIFFSetField(tiff, TIFFTAG_COLORMAP, page.colourMap.data(), page.colourMap.data() + n,
                   page.colourMap.data() + 2 * n);
    }
    if (page.resolutionUnit >= 0) {
      TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, static_cast<std::uint16_t>(page.resolutionUnit));
      TIFFSetField(tiff, TIFFTAG_XRESOLUTION, page.xResolution);
      TIFFSetField(tiff, TIFFTAG_YRESOLUTION, page.yResolution);
    }
    for (std::uint32_t y = 0; y < page.height; ++y) {
      TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(page.rows[y].data()), y, 0);
    }
    TIFFWriteDirectory(tiff);
  }
  TIFFClose(tiff);
}

void writeBmp(const std::string& path, const Picture& picture, const BmpOptions& options) {
  writeFile(path, bmpBytes(picture, options));
}

std::string bmpBytes(const Picture& picture, const BmpOptions& options) {
  std::vector<Colour> palette;
  if (options.bitsPerPixel == 8) {
    for (const Colour& c : picture.pixels)
      if (std::find(palette.begin(), palette.end(), c) == palette.end()) palette.push_back(c);
  }
  const std::uint32_t rowSize = (picture.width * options.bitsPerPixel / 8 + 3) & ~3u;
  const std::uint32_t dataOffset = 14 + 40 + static_cast<std::uint32_t>(palette.size()) * 4;
  std::string s = "BM";
  put32(s, dataOffset + rowSize * picture.height, false);
  put32(s, 0, false);
  put32(s, dataOffset, false);
  put32(s, 40, false);
  put32(s, picture.width, false);
  put32(s, static_cast<std::uint32_t>(options.topDown ? -std::int32_t(picture.height)
                                                      : std::int32_t(picture.height)),
        false);
  put16(s, 1, false);
  put16(s, static_cast<std::uint16_t>(options.bitsPerPixel), false);
  put32(s, 0, false);  // no compression
  put32(s, rowSize * picture.height, false);
  put32(s, static_cast<std::uint32_t>(options.pixelsPerMetreX), false);
  put32(s, static_cast<std::uint32_t>(options.pixelsPerMetreY), false);
  put32(s, static_cast<std::uint32_t>(palette.size()), false);
  put32(s, 0, false);
  for (const Colour& c : palette) s += {char(c.b), char(c.g), char(c.r), '\0'};
  for (std::uint32_t i = 0; i < picture.height; ++i) {
    const std::uint32_t y = options.topDown ? i : picture.height - 1 - i;
    std::string row;
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const Colour c = picture.pixels[std::size_t{y} * picture.width + x];
      if (options.bitsPerPixel == 8) {
        row += char(std::find(palette.begin(), palette.end(), c) - palette.begin());
      } else {
        row += {char(c.b), char(c.g), char(c.r)};
        if (options.bitsPerPixel == 32) row += char(c.a);
      }
    }
    row.resize(rowSize, '\0');
    s += row;
  }
  return s;
}

namespace {

std::vector<std::uint8_t> bgraBytes(const Picture& picture) {
  std::vector<std::uint8_t> bytes;
  for (const Colour& c : picture.pixels) {
    bytes.push_back(c.b);
    bytes.push_back(c.g);
    bytes.push_back(c.r);
    bytes.push_back(c.a);
  }
  return bytes;
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FilePtr out = openOut(path);
  std::fwrite(data, 1, size, out.get());
}

}  // namespace

void writeWebp(const std::string& path, const Picture& picture, bool lossy) {
  const auto bgra = bgraBytes(picture);
  const auto width = static_cast<int>(picture.width), height = static_cast<int>(picture.height);
  std::uint8_t* out = nullptr;
  size_t size = 0;
  if (lossy) {
    std::vector<std::uint8_t> bgr;
    for (const Colour& c : picture.pixels) bgr.insert(bgr.end(), {c.b, c.g, c.r});
    size = WebPEncodeBGR(bgr.data(), width, height, width * 3, 90, &out);
  } else {
    size = WebPEncodeLosslessBGRA(bgra.data(), width, height, width * 4, &out);
  }
  if (size == 0) throw std::runtime_error("cannot encode " + path);
  writeBytes(path, out, size);
  WebPFree(out);
}

void writeAnimatedWebp(const std::string& path, const std::vector<Picture>& frames) {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  const int width = static_cast<int>(frames.at(0).width);
  const int height = static_cast<int>(frames.at(0).height);
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  int timestamp = 0;
  for (const Picture& frame : frames) {
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = width;
    picture.height = height;
    const auto bgra = bgraBytes(frame);
    WebPPictureImportBGRA(&picture, bgra.data(), width * 4);
    WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
    WebPPictureFree(&picture);
    timestamp += 100;
  }
  WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
  WebPData data;
  WebPDataInit(&data);
  if (!WebPAnimEncoderAssemble(encoder, &data)) throw std::runtime_error("cannot encode " + path);
  writeBytes(path, data.bytes, data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
}

}  // namespace folio::test
