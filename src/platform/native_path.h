// Paths travel through Folio as UTF-16 strings. These functions are the one
// bridge between that form and the bytes the operating system uses.
#pragma once

#include <optional>
#include <string>

namespace folio::platform {

// The narrow form of a path for a library that opens files by a narrow path
// (PDFium), naming the same file the platform's own calls open, or nothing
// when there is no such form. A zero unit ends the path here too.
std::optional<std::string> libraryPath(const std::u16string& path);

// The path of name inside directory: directory, one separator of the
// system, then name. The directory is otherwise taken as given. Where the
// system's own reading calls for it (on Windows a bare drive such as Y:,
// which names that drive's current folder, or a folder that already ends in
// a separator) no separator is added.
std::u16string joinPath(const std::u16string& directory, const std::u16string& name);

}  // namespace folio::platform
