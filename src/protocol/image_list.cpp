#include "protocol/image_list.h"

#include <bit>

namespace folio::protocol {
namespace {

bool readUint32(platform::File& file, std::uint32_t* value) {
  unsigned char bytes[4];
  if (!readExact(file, bytes, sizeof bytes)) return false;
  *value = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
  return true;
}

void littleEndianToHost(std::u16string& text) {
  if constexpr (std::endian::native == std::endian::big) {
    for (char16_t& u : text) u = static_cast<char16_t>((u >> 8) | (u << 8));
  }
}

}  // namespace

bool readExact(platform::File& file, void* destination, size_t size) {
  auto* out = static_cast<unsigned char*>(destination);
  while (size > 0) {
    const size_t got = file.readSome(out, size);
    if (got == 0) return false;
    out += got;
    size -= got;
  }
  return true;
}

bool readImageList(const std::u16string& listPath, std::vector<std::u16string>& images) {
  platform::File file = platform::openForReading(listPath);
  if (!file.isOpen()) return false;

  std::uint32_t count = 0;
  if (!readUint32(file, &count) || count < 1 || count > kMaxImageCount) return false;

  // Only the string objects are reserved up front: the text of each entry is
  // allocated once its length has been read and found within the limits, so a
  // short file that announces much fails before it costs much.
  std::vector<std::u16string> entries;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t length = 0;
    if (!readUint32(file, &length) || length < 1 || length > kMaxPathUnits) return false;
    std::u16string path(length, u'\0');
    if (!readExact(file, path.data(), size_t{length} * 2)) return false;
    littleEndianToHost(path);
    entries.push_back(std::move(path));
  }
  images = std::move(entries);
  return true;
}

}  // namespace folio::protocol
