// The worker's run, from the checked command line to the exit code. The
// platform's entry point turns its arguments into UTF-16 and calls this.
#pragma once

#include <string>
#include <vector>

namespace folio::app {

// arguments[0] is the program; the result is the process exit code.
int runWorker(const std::vector<std::u16string>& arguments);

}  // namespace folio::app
