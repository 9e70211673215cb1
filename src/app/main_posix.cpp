// The process entry: the system hands us bytes, the worker works on UTF-16.
#include <string>
#include <vector>

#include "app/worker.h"
#include "platform/native_path_posix.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(folio::platform::argumentToWide(argv[i]));
  return folio::app::runWorker(arguments);
}
