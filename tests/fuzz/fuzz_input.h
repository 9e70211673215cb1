#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace folio::fuzz {

// The fuzzer's bytes as a file the readers can open by path: an in-memory
// file, so that no run touches the disk.
class InputFile {
 public:
  InputFile(const std::uint8_t* data, size_t size);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::u16string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::u16string path_;
};

}  // namespace folio::fuzz
