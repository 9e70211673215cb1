#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace folio::fuzz {

// The fuzzer's bytes as a file the readers can open by path: an in-memory
// file, so that no run touches the disk.
class InputFile {
 public:
  InputFile(const std::uint8_t* data, size_t size) : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
    for (size_t done = 0; done < size;) {
      const ssize_t n = fd_ < 0 ? -1 : write(fd_, data + done, size - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd_);
    path_.assign(path.begin(), path.end());
  }
  ~InputFile() { close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::u16string& path() const { return path_; }

 private:
  int fd_;
  std::u16string path_;
};

}  // namespace folio::fuzz
