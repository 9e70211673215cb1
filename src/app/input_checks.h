#pragma once

#include <cstdint>
#include <string>

namespace folio::app {

// Whether path names an existing file (not a directory) whose name ends in
// ".pdf" in any letter case. A full stop inside a directory name does not
// count as the start of an extension.
bool isPdfInputFile(const std::u16string& path);

// The callback the worker hands to a driver: a START line for current 0, a
// PROGRESS line for every other call.
void statusLineProgress(std::int32_t current, std::int32_t total, const std::string& name);

}  // namespace folio::app
