#include "platform/path_join.h"

namespace folio::platform {

std::u16string joinPath(const std::u16string& directory, const std::u16string& name) {
  return directory + u'\\' + name;
}

}  // namespace folio::platform
