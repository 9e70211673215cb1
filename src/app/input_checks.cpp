#include "app/input_checks.h"

#include "platform/files.h"
#include "protocol/status_lines.h"

namespace folio::app {

bool isPdfInputFile(const std::u16string& path) {
  if (platform::queryPathKind(path) != platform::PathKind::file) return false;
  if (path.empty()) return false;
  const size_t separator = path.find_last_of(u"\\/");
  const size_t dot = path.find_last_of(u'.');
  if (dot == std::u16string::npos) return false;
  if (separator != std::u16string::npos && dot < separator) return false;
  std::u16string extension = path.substr(dot);
  for (char16_t& u : extension) {
    if (u >= u'A' && u <= u'Z') u = static_cast<char16_t>(u - u'A' + u'a');
  }
  return extension == u".pdf";
}

void statusLineProgress(std::int32_t current, std::int32_t total, const std::string& name) {
  protocol::writeStdout(current == 0 ? protocol::makeStartLine(total)
                                     : protocol::makeProgressLine(current, total, name));
}

}  // namespace folio::app
