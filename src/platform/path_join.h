// Joining a directory and a name into one path.
#pragma once

#include <string>

namespace folio::platform {

// directory, one separator of the system, then name. The directory is taken
// exactly as given: one that already ends in a separator gets a second one,
// which every system reads as one.
std::u16string joinPath(const std::u16string& directory, const std::u16string& name);

}  // namespace folio::platform
