// Milliseconds of processor time per image for decodeImage (the median and
// the best of the runs), and how they split between the codec (reading the file into stored pixels) and our own
// work (the 24-bit buffer and the pass that turns and flattens into it).
// Processor time, not wall time, so that other work on the machine does not
// blur the figures. Usage: decode_bench [--runs N] FILE...
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "assemble/decode_image.h"
#include "assemble/upright.h"
#include "platform/native_path_posix.h"

namespace {

using folio::assemble::DecodedImage;

double cpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double best(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: decode_bench [--runs N] FILE...\n");
    return 2;
  }
  const auto factory = folio::codecs::createImagingFactory();
  std::printf("%-20s %11s %9s %9s %9s %9s\n", "file", "size", "total ms", "best ms", "codec ms",
              "own ms");
  for (const auto& file : files) {
    const std::u16string path = folio::platform::argumentToWide(file);
    // decodeImage back to back, as the images job calls it: from the second
    // call on, the allocator hands back the memory the last call freed.
    std::vector<double> total, codec, own;
    DecodedImage image;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the caches
      image = DecodedImage();
      const double start = cpuMs();
      if (!folio::assemble::decodeImage(factory.get(), path, &image)) {
        std::fprintf(stderr, "%s: cannot decode\n", file.c_str());
        return 1;
      }
      if (run > 0) total.push_back(cpuMs() - start);
    }
    // The same steps again, timed apart: the codec, then our own work.
    std::vector<std::uint8_t> stored, pixels;
    for (int run = 0; run <= runs; ++run) {
      double start = cpuMs();
      const auto frame = factory->openFirstFrame(path);
      const auto& info = frame->info();
      stored.assign(std::size_t{info.width} * 4 * info.height, 0);
      frame->copyPixels(stored.data(), stored.size());
      const double codecMs = cpuMs() - start;
      start = cpuMs();
      const auto transform =
          folio::assemble::transformForOrientation(info.exifOrientation.value_or(1));
      pixels.assign(image.pixels.size(), 0xFF);
      folio::assemble::flattenUpright(stored.data(), info.width, info.height, transform,
                                      pixels.data(), image.stride);
      const double ownMs = cpuMs() - start;
      if (run > 0) {
        codec.push_back(codecMs);
        own.push_back(ownMs);
      }
    }
    const std::string name = file.substr(file.find_last_of('/') + 1);
    const std::string size = std::to_string(image.width) + "x" + std::to_string(image.height);
    std::printf("%-20s %11s %9.2f %9.2f %9.2f %9.2f\n", name.c_str(), size.c_str(), median(total),
                best(total), median(codec), median(own));
  }
  return 0;
}
