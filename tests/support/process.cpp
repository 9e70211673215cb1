#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace folio::test {
namespace {

void drain(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = (outFd >= 0) + (errFd >= 0);
  if (outFd < 0) fds[0].fd = -1;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& argv, Stdout mode, const std::string& cwd) {
  int outPipe[2] = {-1, -1};
  int errPipe[2];
  if (mode != Stdout::closed && pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (mode == Stdout::noReader) {
    close(outPipe[0]);  // nobody will ever read what the child writes
    outPipe[0] = -1;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);  // the worker must protect itself
    if (mode == Stdout::closed) {
      close(STDOUT_FILENO);
    } else {
      dup2(outPipe[1], STDOUT_FILENO);
    }
    dup2(errPipe[1], STDERR_FILENO);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  if (outPipe[1] >= 0) close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  drain(outPipe[0], errPipe[0], result.out, result.err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

RunResult runFolio(const std::vector<std::string>& args, Stdout mode, const std::string& cwd) {
  std::vector<std::string> argv{FOLIO_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, mode, cwd);
}

void makeImageList(const std::string& listPath, const std::vector<std::string>& images) {
  std::vector<std::string> argv{"/usr/bin/env", "python3",
                                FOLIO_SOURCE_DIR "/tools/make-image-list", listPath};
  argv.insert(argv.end(), images.begin(), images.end());
  const RunResult r = runProgram(argv);
  if (r.exitCode != 0) throw std::runtime_error("make-image-list failed: " + r.err);
}

}  // namespace folio::test
