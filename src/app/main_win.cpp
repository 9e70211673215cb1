// The process entry: the system hands us the arguments as UTF-16 already.
#include <string>
#include <vector>

#include "app/worker.h"

int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide characters are UTF-16 units");
  std::vector<std::u16string> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  return folio::app::runWorker(arguments);
}
