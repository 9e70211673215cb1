// Measures PNG encoders on pages rendered by the worker's own steps: libpng
// at its defaults (what a standard writer makes), libdeflate level 1 over the
// whole page as the worker's earlier writer compressed it, and the worker's
// own encoder at each igzip level and filter rule. Prints one line per
// candidate: processor milliseconds per page and bytes per page.
//
//   build/bench/png_candidates DOCUMENT.pdf PAGES [NAME-PART]
#include <libdeflate.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "codecs/png_encoder.h"
#include "render/render_page.h"

namespace {

struct Page {
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
};

void appendBytes(png_structp png, png_bytep data, size_t size) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), size);
}

size_t encodeLibpng(const Page& page) {
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
  png_write_info(png, info);
  png_set_bgr(png);
  for (int y = 0; y < page.height; ++y) {
    png_write_row(png, page.pixels.data() + static_cast<size_t>(y) * page.stride);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out.size();
}

// The whole page filtered into one buffer and compressed at once, as the
// earlier writer did; the chunks around it add 57 bytes.
size_t encodeLibdeflate(const Page& page, bool up) {
  const size_t rowBytes = static_cast<size_t>(page.width) * 3;
  std::vector<std::uint8_t> raw(page.height * (rowBytes + 1));
  std::vector<std::uint8_t> prev(rowBytes, 0), cur(rowBytes);
  for (int y = 0; y < page.height; ++y) {
    const std::uint8_t* bgr = page.pixels.data() + static_cast<size_t>(y) * page.stride;
    for (size_t x = 0; x < rowBytes; x += 3) {
      cur[x] = bgr[x + 2];
      cur[x + 1] = bgr[x + 1];
      cur[x + 2] = bgr[x];
    }
    std::uint8_t* line = raw.data() + y * (rowBytes + 1);
    line[0] = up ? 2 : 0;
    for (size_t i = 0; i < rowBytes; ++i) line[1 + i] = up ? cur[i] - prev[i] : cur[i];
    prev.swap(cur);
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(1);
  std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor, raw.size()));
  const size_t size =
      libdeflate_zlib_compress(compressor, raw.data(), raw.size(), out.data(), out.size());
  libdeflate_free_compressor(compressor);
  return size + 57;
}

size_t encodeOwn(const Page& page, int level, folio::codecs::PngFilter filter) {
  const folio::codecs::BgrImage image{page.pixels.data(), static_cast<std::uint32_t>(page.width),
                                      static_cast<std::uint32_t>(page.height),
                                      static_cast<std::uint32_t>(page.stride)};
  size_t size = 0;
  folio::codecs::encodePng(image,
                           [&size](const std::uint8_t*, size_t n) {
                             size += n;
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
  std::vector<Page> pages;
  {
    folio::pdfium::LibraryScope library;
    folio::pdfium::ScopedDocument document(FPDF_LoadDocument(argv[1], nullptr));
    if (!document) return 1;
    const int count = std::min(FPDF_GetPageCount(document.get()), std::stoi(argv[2]));
    folio::render::PageBuffer buffer;
    for (int i = 0; i < count; ++i) {
      folio::render::LoadedPage loaded;
      if (folio::render::loadPage(document.get(), i, loaded)) return 1;
      if (folio::render::renderPage(loaded, buffer)) return 1;
      Page& page = pages.emplace_back();
      page.width = loaded.size.width;
      page.height = loaded.size.height;
      page.stride = loaded.size.stride;
      page.pixels.assign(buffer.data(), buffer.data() + loaded.size.bytes);
    }
  }
  using folio::codecs::PngFilter;
  std::vector<std::pair<std::string, std::function<size_t(const Page&)>>> all = {
      {"libpng default (adaptive, level 6)", encodeLibpng},
      {"libdeflate level 1, filter none", [](auto& p) { return encodeLibdeflate(p, false); }},
      {"libdeflate level 1, filter up", [](auto& p) { return encodeLibdeflate(p, true); }},
  };
  for (int level : {0, 1, 2, 3}) {
    for (const auto& choice : {std::pair{PngFilter::none, "none"},
                               {PngFilter::sub, "sub"},
                               {PngFilter::up, "up"},
                               {PngFilter::adaptive, "adaptive"},
                               {PngFilter::banded, "banded"}}) {
      const PngFilter filter = choice.first;
      all.push_back({"igzip level " + std::to_string(level) + ", filter " + choice.second,
                     [level, filter](auto& p) { return encodeOwn(p, level, filter); }});
    }
  }
  for (const auto& [name, encode] : all) {
    if (argc == 4 && name.find(argv[3]) == std::string::npos) continue;
    size_t bytes = 0;
    // Processor time, not wall time: the machine may be busy with other work.
    const std::clock_t start = std::clock();
    for (const Page& page : pages) bytes += encode(page);
    const double elapsed = 1000.0 * (std::clock() - start) / CLOCKS_PER_SEC;
    std::printf("%-40s %8.2f ms/page %10zu bytes/page\n", name.c_str(), elapsed / pages.size(),
                bytes / pages.size());
  }
  return 0;
}
