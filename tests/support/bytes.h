// Bytes of the binary formats the tests write by hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio::test {

std::string le16(std::uint32_t value);
std::string le32(std::uint32_t value);
std::string be32(std::uint32_t value);  // as PNG headers hold numbers

// A whole image list holding these entries exactly, zero units included.
std::string imageListBytes(const std::vector<std::u16string>& entries);

// An ASCII or raw byte string widened unit for unit.
std::u16string wide(const std::string& bytes);

}  // namespace folio::test
