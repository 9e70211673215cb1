#pragma once

#include <string>
#include <vector>

namespace folio::test {

// How the child's standard output is connected.
enum class Stdout {
  captured,  // a pipe the test reads to the end
  closed,    // descriptor 1 is closed in the child
  noReader,  // a pipe whose reading end is already gone
};

struct RunResult {
  int exitCode = -1;  // -1 when the child did not exit normally
  int signal = 0;     // the signal that ended the child, if one did
  std::string out;    // every byte written to standard output
  std::string err;    // every byte written to standard error
};

// Runs the built worker with these arguments (argv[1] onwards, as raw bytes),
// in the folder cwd when one is given.
RunResult runFolio(const std::vector<std::string>& args, Stdout mode = Stdout::captured,
                   const std::string& cwd = "");

// Runs any program, for tools the tests use.
RunResult runProgram(const std::vector<std::string>& argv, Stdout mode = Stdout::captured,
                     const std::string& cwd = "");

// Writes an image list file with the repository's own tool.
void makeImageList(const std::string& listPath, const std::vector<std::string>& images);

}  // namespace folio::test
