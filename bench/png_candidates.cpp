// Measures PNG encoders on pages rendered as the worker renders them: libpng
// with several filter and level settings, libspng, and the worker's own
// libdeflate writer at several levels and filters. Prints one line per
// candidate: processor milliseconds per page and bytes per page.
#include <png.h>
#include <spng.h>

#include <ctime>
#include <cstdio>
#include <functional>
#include <string>

#include "page_render.h"
#include "codecs/png_encoder.h"

namespace {

using folio::bench::RenderedPage;

void appendBytes(png_structp png, png_bytep data, size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), size);
}

size_t encodeLibpng(const RenderedPage& page, int filters, int level) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return 0;
  }
  png_set_write_fn(png, &out, appendBytes, nullptr);
  png_set_IHDR(png, info, page.width, page.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, 5669, 5669, PNG_RESOLUTION_METER);
  if (filters >= 0) png_set_filter(png, 0, filters);
  if (level >= 0) png_set_compression_level(png, level);
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < page.height; ++y) {
    png_write_row(png, page.pixels.data() + static_cast<size_t>(y) * page.stride);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out.size();
}

size_t encodeSpng(const RenderedPage& page, bool filtering, int level) {
  // libspng takes RGB rows without padding.
  std::vector<std::uint8_t> rgb(static_cast<size_t>(page.width) * 3 * page.height);
  for (int y = 0; y < page.height; ++y) {
    const std::uint8_t* in = page.pixels.data() + static_cast<size_t>(y) * page.stride;
    std::uint8_t* out = rgb.data() + static_cast<size_t>(y) * page.width * 3;
    for (int x = 0; x < page.width * 3; x += 3) {
      out[x] = in[x + 2];
      out[x + 1] = in[x + 1];
      out[x + 2] = in[x];
    }
  }
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  if (!filtering) spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_DISABLE_FILTERING);
  if (level >= 0) spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, level);
  spng_ihdr ihdr{};
  ihdr.width = page.width;
  ihdr.height = page.height;
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  spng_set_ihdr(ctx, &ihdr);
  spng_phys phys{5669, 5669, 1};
  spng_set_phys(ctx, &phys);
  size_t size = 0;
  if (spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) == 0) {
    int error = 0;
    void* buffer = spng_get_png_buffer(ctx, &size, &error);
    free(buffer);
  }
  spng_ctx_free(ctx);
  return size;
}

size_t encodeOwn(const RenderedPage& page, int level, folio::codecs::PngFilter filter) {
  const folio::codecs::BgrImage image{page.pixels.data(), static_cast<std::uint32_t>(page.width),
                                        static_cast<std::uint32_t>(page.height),
                                        static_cast<std::uint32_t>(page.stride)};
  size_t size = 0;
  folio::codecs::encodePng(
      image,
      [&size](const std::uint8_t*, size_t n) {
        size = n;
        return folio::platform::IoStatus::ok;
      },
      {level, filter});
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: png_candidates DOCUMENT.pdf PAGES [NAME-PART]\n");
    return 2;
  }
  std::vector<RenderedPage> pages;
  {
    folio::pdfium::LibraryScope library;
    folio::pdfium::ScopedDocument document(FPDF_LoadDocument(argv[1], nullptr));
    if (!document) return 1;
    const int count = std::min(FPDF_GetPageCount(document.get()), std::stoi(argv[2]));
    pages.resize(count);
    for (int i = 0; i < count; ++i) {
      if (!folio::bench::renderPage(document.get(), i, pages[i])) return 1;
    }
  }
  using folio::codecs::PngFilter;
  const std::vector<std::pair<std::string, std::function<size_t(const RenderedPage&)>>> candidates =
      {
          {"libpng default (adaptive, level 6)", [](auto& p) { return encodeLibpng(p, -1, -1); }},
          {"libpng filter up, level 3", [](auto& p) { return encodeLibpng(p, PNG_FILTER_UP, 3); }},
          {"libspng default", [](auto& p) { return encodeSpng(p, true, -1); }},
          {"libspng filter none, level 3", [](auto& p) { return encodeSpng(p, false, 3); }},
          {"libspng filter none, level 1", [](auto& p) { return encodeSpng(p, false, 1); }},
      };
  std::vector<std::pair<std::string, std::function<size_t(const RenderedPage&)>>> all = candidates;
  for (int level : {6, 3, 1}) {
    all.push_back({"libpng filter none, level " + std::to_string(level),
                   [level](auto& p) { return encodeLibpng(p, PNG_FILTER_NONE, level); }});
  }
  all.push_back({"libpng filter adaptive, level 1", [](auto& p) { return encodeLibpng(p, -1, 1); }});
  all.push_back({"libspng filter adaptive, level 1", [](auto& p) { return encodeSpng(p, true, 1); }});
  for (int level : {1, 2, 3, 4, 6}) {
    for (const auto& choice : {std::pair{PngFilter::none, "none"}, {PngFilter::up, "up"},
                               {PngFilter::adaptive, "adaptive"}}) {
      const PngFilter filter = choice.first;
      all.push_back({"libdeflate filter " + std::string(choice.second) + ", level " +
                         std::to_string(level),
                     [level, filter](auto& p) { return encodeOwn(p, level, filter); }});
    }
  }
  for (const auto& [name, encode] : all) {
    if (argc == 4 && name.find(argv[3]) == std::string::npos) continue;
    size_t bytes = 0;
    // Processor time, not wall time: the machine may be busy with other work.
    const std::clock_t start = std::clock();
    for (const RenderedPage& page : pages) bytes += encode(page);
    const double elapsed = 1000.0 * (std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("%-40s %8.2f ms/page %10zu bytes/page\n", name.c_str(),
                elapsed / pages.size(), bytes / pages.size());
  }
  return 0;
}
