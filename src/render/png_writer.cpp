#include "render/png_writer.h"

#include "codecs/png_encoder.h"
#include "platform/files.h"

namespace folio::render {
namespace {

// The whole file through the encoder, block by block as it comes.
platform::IoStatus writePng(platform::File& file, const codecs::BgrImage& image) {
  return codecs::encodePng(
      image, [&file](const std::uint8_t* data, size_t size) { return file.writeAll(data, size); });
}

}  // namespace

platform::IoStatus writePngFile(const std::u16string& target, const std::uint8_t* pixels,
                                std::uint32_t width, std::uint32_t height, std::uint32_t stride,
                                platform::NewFile& written) {
  if (!pixels || width == 0 || height == 0 ||
      std::uint64_t{height} * stride > std::uint64_t{UINT32_MAX} || stride / 3 < width) {
    return platform::IoStatus::other;
  }
  const std::u16string temporary = target + u".tmp";
  // What an interrupted earlier run left behind.
  platform::deleteFile(temporary);

  platform::IoStatus status = platform::IoStatus::other;
  platform::NewFile file = platform::NewFile::create(target, temporary, &status);
  if (!file.isOpen()) return status;
  status = writePng(file.file(), {pixels, width, height, stride});
  if (status == platform::IoStatus::ok) status = file.commit();
  if (status == platform::IoStatus::ok) written = std::move(file);
  return status;
}

}  // namespace folio::render
