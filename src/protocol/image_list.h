// The image list file: a little-endian count, then for each entry a length in
// UTF-16 units and that many UTF-16LE units of path text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace folio::protocol {

inline constexpr std::uint32_t kMaxImageCount = 10000;
inline constexpr std::uint32_t kMaxPathUnits = 32767;

// Reads the whole list. On true, images holds every entry in file order; on
// false (the file cannot be opened, is short, or breaks a limit) images is
// left exactly as it was.
bool readImageList(const std::u16string& listPath, std::vector<std::u16string>& images);

// Reads exactly size bytes, however many reads it takes.
bool readExact(platform::File& file, void* destination, size_t size);

}  // namespace folio::protocol
