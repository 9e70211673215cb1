#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "platform/files.h"
#include "platform/native_path_posix.h"
#include "platform/posix_support.h"

namespace folio::platform {

using posix::fdOf;
using posix::statusOf;

PathKind queryPathKind(const std::u16string& path) {
  const auto native = nativePath(path);
  struct stat st;
  if (!native || stat(native->c_str(), &st) != 0) return PathKind::missing;
  return S_ISDIR(st.st_mode) ? PathKind::directory : PathKind::file;
}

std::optional<std::uint64_t> queryFileSize(const std::u16string& path) {
  const auto native = nativePath(path);
  struct stat st;
  if (!native || stat(native->c_str(), &st) != 0 || st.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<FileIdentity> queryFileIdentity(const std::u16string& path) {
  const auto native = nativePath(path);
  struct stat st;
  if (!native || stat(native->c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

size_t File::readSome(void* buffer, size_t size) {
  if (!isOpen()) return 0;
  for (;;) {
    const ssize_t n = read(fdOf(handle_), buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

size_t File::readSomeAt(std::uint64_t offset, void* buffer, size_t size) {
  if (!isOpen() || offset > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  for (;;) {
    const ssize_t n = pread(fdOf(handle_), buffer, size, static_cast<off_t>(offset));
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return 0;
  }
}

std::optional<std::uint64_t> File::size() const {
  struct stat st;
  if (!isOpen() || fstat(fdOf(handle_), &st) != 0 || st.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

File::WriteResult File::writeSome(const void* data, size_t size) {
  if (!isOpen()) return {0, IoStatus::other};
  for (;;) {
    const ssize_t n = write(fdOf(handle_), data, size);
    if (n > 0) return {static_cast<size_t>(n), IoStatus::ok};
    if (n < 0 && errno == EINTR) continue;
    // A write that takes nothing without an error is most likely a full disk
    // on the way; report it as a failure of its own kind.
    return {0, n < 0 ? statusOf(errno) : IoStatus::other};
  }
}

IoStatus File::flush() {
  if (!isOpen()) return IoStatus::other;
  return fsync(fdOf(handle_)) == 0 ? IoStatus::ok : statusOf(errno);
}

void File::close() {
  if (isOpen()) ::close(fdOf(std::exchange(handle_, kInvalid)));
}

File openForReading(const std::u16string& path) {
  const auto native = nativePath(path);
  if (!native) return File();
  // Non-blocking so that opening a pipe without a writer cannot hang us; the
  // flag is dropped again once we know it is a regular file.
  const int fd = open(native->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return File();
  File file(fd);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return File();
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) return File();
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

bool deleteFile(const std::u16string& path) {
  const auto native = nativePath(path);
  if (!native) return false;
  struct stat st;
  if (lstat(native->c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
  return unlink(native->c_str()) == 0;
}

}  // namespace folio::platform
