// Bytes of the binary formats the tests write by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio::test {

std::string le16(std::uint32_t value);
std::string le32(std::uint32_t value);
std::string be32(std::uint32_t value);

// One image list entry: the length field (as given, so that tests can lie in
// it) and the path's UTF-16LE units.
std::string imageListEntry(const std::u16string& path, std::uint32_t length);
std::string imageListEntry(const std::u16string& path);
// A whole image list holding these entries exactly, zero units included.
std::string imageListBytes(const std::vector<std::u16string>& entries);

}  // namespace folio::test
