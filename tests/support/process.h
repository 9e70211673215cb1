#pragma once

#include <functional>
#include <string>
#include <vector>

namespace folio::test {

// How the child's standard output is connected.
enum class Stdout {
  captured,  // a pipe the test reads to the end
  closed,    // descriptor 1 is closed in the child
  noReader,  // a pipe whose reading end is already gone
  // A pipe of 4 KiB, non-blocking on the child's side, read only once it is
  // full (or the child has exited), a moment after.
  smallNonBlocking,
};

struct RunOptions {
  Stdout mode = Stdout::captured;
  std::string cwd = "";                   // the child's working folder, when not empty
  unsigned timeoutSeconds = 120;          // then the child is killed: a hang fails the test
  std::vector<std::string> wrapper = {};  // a command the worker is started through
  // Called with each whole line the child writes, as it comes; answering
  // false closes the reading end, so the child's later writes find no reader.
  std::function<bool(const std::string& line)> onLine = nullptr;
};

struct RunResult {
  int exitCode = -1;  // -1 when the child did not exit normally
  int signal = 0;     // the signal that ended the child, if one did
  std::string out;    // every byte read from standard output
  std::string err;    // every byte written to standard error
  // The child's peak resident memory. It counts the test process as it was
  // when forked, so it is an upper bound: measure while the test is small.
  long peakKiB = 0;
  double seconds = 0;  // wall time from start to exit
};

// Whether that command runs the Windows build of the worker, whose system
// knows nothing of some POSIX things a test may rely on.
bool runsWindowsWorker();

// Under the Windows worker, answers true and notes the case in *skipped with
// why it cannot hold there, so that the test leaves it out, runs its other
// cases and reports itself skipped with that note at the end. Elsewhere it
// answers false and notes nothing.
bool leftOutOnWindows(std::string* skipped, const std::string& what, const std::string& reason);

// Runs the worker with these arguments (argv[1] onwards, as raw bytes).
RunResult runFolio(const std::vector<std::string>& args, const RunOptions& options = {});

// Runs any program, for tools the tests use.
RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace folio::test
