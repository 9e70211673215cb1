#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace folio::test {
namespace {

using Clock = std::chrono::steady_clock;

// The command that starts the worker: the words of FOLIO_COMMAND, split at
// spaces, when it is set ("wine /path/folio.exe" runs the Windows build),
// else the worker built here.
std::vector<std::string> folioCommand() {
  const char* command = std::getenv("FOLIO_COMMAND");
  if (command == nullptr || *command == '\0') return {FOLIO_BINARY};
  std::vector<std::string> words;
  std::istringstream in(command);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Reads both pipes until both close, handing whole stdout lines to onLine as
// they arrive (and closing the reading end when it answers false); kills the
// child once the deadline passes.
void drain(pid_t pid, int outFd, int errFd, const RunOptions& options, RunResult& result) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  const auto deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
  size_t linesSeen = 0;
  char buffer[65536];
  siginfo_t exited{};
  for (int queued = 0; options.mode == Stdout::smallNonBlocking && exited.si_pid == 0 &&
                       (ioctl(outFd, FIONREAD, &queued) != 0 || queued < 4000);) {
    usleep(10000);
    waitid(P_PID, static_cast<id_t>(pid), &exited, WEXITED | WNOHANG | WNOWAIT);
  }
  if (options.mode == Stdout::smallNonBlocking) usleep(200000);
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) kill(pid, SIGKILL);
    if (left.count() <= 0) break;
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) sinks[i]->append(buffer, static_cast<size_t>(n));
      bool reading = n > 0;
      for (size_t end; reading && i == 0 && options.onLine &&
                       (end = result.out.find('\n', linesSeen)) != std::string::npos;) {
        reading = options.onLine(result.out.substr(linesSeen, end + 1 - linesSeen));
        linesSeen = end + 1;
      }
      if (!reading) close(std::exchange(fds[i].fd, -1));
    }
  }
  for (pollfd& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  int outPipe[2] = {-1, -1}, errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0 ||
      (options.mode != Stdout::closed && pipe2(outPipe, O_CLOEXEC) != 0)) {
    throw std::runtime_error("pipe");
  }
  if (options.mode == Stdout::noReader) close(std::exchange(outPipe[0], -1));  // nobody reads
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto started = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);  // the worker must protect itself
    if (options.mode == Stdout::closed) close(STDOUT_FILENO);
    if (options.mode != Stdout::closed) dup2(outPipe[1], STDOUT_FILENO);
    if (options.mode == Stdout::smallNonBlocking && fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 4096) > 0)
      fcntl(STDOUT_FILENO, F_SETFL, O_NONBLOCK);  // its only status flag
    dup2(errPipe[1], STDERR_FILENO);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (outPipe[1] >= 0) close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  drain(pid, outPipe[0], errPipe[0], options, result);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  result.peakKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

bool runsWindowsWorker() {
  const std::string program = folioCommand().back();
  return program.size() >= 4 && program.compare(program.size() - 4, 4, ".exe") == 0;
}

bool leftOutOnWindows(std::string* skipped, const std::string& what, const std::string& reason) {
  if (!runsWindowsWorker()) return false;
  *skipped += (skipped->empty() ? "" : "; ") + what + ": " + reason;
  return true;
}

RunResult runFolio(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv = options.wrapper;
  for (const auto& list : {folioCommand(), args}) argv.insert(argv.end(), list.begin(), list.end());
  return runProgram(argv, options);
}

}  // namespace folio::test
