#include "support/bytes.h"

namespace folio::test {

std::string le16(std::uint32_t value) { return {char(value & 0xFF), char((value >> 8) & 0xFF)}; }

std::string le32(std::uint32_t value) { return le16(value & 0xFFFF) + le16(value >> 16); }

std::string be32(std::uint32_t value) {
  return {char(value >> 24), char((value >> 16) & 0xFF), char((value >> 8) & 0xFF),
          char(value & 0xFF)};
}

std::string imageListEntry(const std::u16string& path, std::uint32_t length) {
  std::string out = le32(length);
  for (char16_t unit : path) out += le16(unit);
  return out;
}

std::string imageListEntry(const std::u16string& path) {
  return imageListEntry(path, static_cast<std::uint32_t>(path.size()));
}

std::string imageListBytes(const std::vector<std::u16string>& entries) {
  std::string out = le32(static_cast<std::uint32_t>(entries.size()));
  for (const auto& entry : entries) out += imageListEntry(entry);
  return out;
}

}  // namespace folio::test
