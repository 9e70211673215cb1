#include "protocol/status_lines.h"

#include "platform/console.h"

namespace folio::protocol {

std::string makeStartLine(std::int32_t total) { return "START\t" + std::to_string(total) + "\n"; }

std::string makeProgressLine(std::int32_t current, std::int32_t total, const std::string& name) {
  return "PROGRESS\t" + std::to_string(current) + "\t" + std::to_string(total) + "\t" + name + "\n";
}

std::string makeDoneLine(std::int32_t count) { return "DONE\t" + std::to_string(count) + "\n"; }

std::string makeErrorLine(const std::string& name) { return "ERROR\t" + name + "\n"; }

bool writeStdout(const std::string& line) {
  // Asked anew for every line: standard output may go away during a run.
  if (!platform::standardOutputAvailable()) return false;
  const char* rest = line.data();
  size_t left = line.size();
  while (left > 0) {
    const size_t written = platform::writeStandardOutput(rest, left);
    if (written == 0) return false;  // the rest of the line is dropped
    rest += written;
    left -= written;
  }
  return true;
}

std::int32_t reportError(const Result& result) {
  writeStdout(makeErrorLine(result.name));
  return result.code;
}

}  // namespace folio::protocol
