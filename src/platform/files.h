// Files, as the jobs rely on them: success or failure, whether a failure was a
// full disk, and the bytes. Nothing of the system's own types leaks out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace folio::platform {

enum class IoStatus { ok, diskFull, other };

enum class PathKind { missing, file, directory };

// What is at a path, following symbolic links. A path that cannot be
// expressed for the system counts as missing.
PathKind queryPathKind(const std::u16string& path);

// An open file, closed when its holder goes.
class File {
 public:
  File() = default;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  ~File() { close(); }
  File(File&& other) noexcept : handle_(std::exchange(other.handle_, kInvalid)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, kInvalid);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool isOpen() const { return handle_ != kInvalid; }

  // One read: the number of bytes read, 0 at the end of the file or on error.
  size_t readSome(void* buffer, size_t size);

  // One read at an offset from the start of the file, which a reader that
  // seeks (a TIFF's directories may lie anywhere) can use without taking the
  // file into memory. As readSome; where the next readSome starts after it is
  // left open.
  size_t readSomeAt(std::uint64_t offset, void* buffer, size_t size);

  // The file's length in bytes; none when the system cannot tell.
  std::optional<std::uint64_t> size() const;

  struct WriteResult {
    size_t written;   // bytes accepted; 0 means the write failed
    IoStatus status;  // why it failed, when it did
  };
  // One write: part of the data may be accepted.
  WriteResult writeSome(const void* data, size_t size);

  // Every byte, however many writes it takes; a write that makes no progress
  // ends the attempt with its status.
  IoStatus writeAll(const void* data, size_t size) {
    const auto* rest = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const WriteResult result = writeSome(rest, size);
      if (result.written == 0) {
        return result.status == IoStatus::ok ? IoStatus::other : result.status;
      }
      rest += result.written;
      size -= result.written;
    }
    return IoStatus::ok;
  }

  // Asks the system to put what was written on the disk; the answer is
  // whether that worked, and a full disk says so.
  IoStatus flush();

  void close();

 private:
  friend class NewFile;  // whose close, after the bytes, must be able to fail
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t handle_ = kInvalid;
};

// The length of the file at path, following symbolic links; none when there
// is no such file or the system cannot tell.
std::optional<std::uint64_t> queryFileSize(const std::u16string& path);

// What tells one file from another: two paths give the same identity
// exactly when they lead (through any links) to the same file.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t number = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at path; none when there is no such file.
std::optional<FileIdentity> queryFileIdentity(const std::u16string& path);

// Opens an existing regular file for reading. Directories, pipes and devices
// are refused: reading them could block the worker or never end.
File openForReading(const std::u16string& path);

// Removes a file that someone else may have put there (a file in the way,
// what an earlier run left). A file that nobody may write is protected, as a
// read-only file is, and stays; so does a directory. Files the worker wrote
// itself go through NewFile, which always removes them.
bool deleteFile(const std::u16string& path);

}  // namespace folio::platform
