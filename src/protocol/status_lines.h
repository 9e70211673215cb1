// The status lines, the worker's only channel to the program that runs it.
// Fields are separated by one tab, every line ends in one line feed.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/result_codes.h"

namespace folio::protocol {

std::string makeStartLine(std::int32_t total);
std::string makeProgressLine(std::int32_t current, std::int32_t total, const std::string& name);
std::string makeDoneLine(std::int32_t count);
std::string makeErrorLine(const std::string& name);

// Writes one whole line to standard output: true when every byte went out.
bool writeStdout(const std::string& line);

// Writes the ERROR line for the result and hands its code back, for use as
// the exit code.
std::int32_t reportError(const Result& result);

}  // namespace folio::protocol
