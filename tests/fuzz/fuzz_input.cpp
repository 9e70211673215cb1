#include "fuzz_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace folio::fuzz {

InputFile::InputFile(const std::uint8_t* data, size_t size) {
  fd_ = memfd_create("fuzz-input", MFD_CLOEXEC);
  if (fd_ < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd_, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd_);
  path_.assign(path.begin(), path.end());
}

InputFile::~InputFile() { close(fd_); }

}  // namespace folio::fuzz
