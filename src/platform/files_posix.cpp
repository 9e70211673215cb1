#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

#include "platform/files.h"
#include "platform/native_path_posix.h"

namespace folio::platform {
namespace {

IoStatus statusOf(int error) {
  return (error == ENOSPC || error == EDQUOT) ? IoStatus::diskFull : IoStatus::other;
}

int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Puts what was written at path on the disk. The error is taken before the
// descriptor is closed, so that a full disk reported by fsync stays reported.
IoStatus syncPath(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return statusOf(errno);
  IoStatus status = IoStatus::ok;
  if (fsync(fd) != 0 && errno != EINVAL && errno != EROFS) status = statusOf(errno);
  ::close(fd);
  return status;
}

}  // namespace

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

File createNewFile(const std::u16string& path, IoStatus* status) {
  IoStatus ignored;
  IoStatus& result = status ? *status : ignored;
  const auto native = nativePath(path);
  if (!native) {
    result = IoStatus::other;
    return File();
  }
  const int fd = open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    result = statusOf(errno);
    return File();
  }
  result = IoStatus::ok;
  return File(fd);
}

bool deleteFile(const std::u16string& path) {
  const auto native = nativePath(path);
  if (!native) return false;
  struct stat st;
  if (lstat(native->c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
  return unlink(native->c_str()) == 0;
}

IoStatus moveFileNoReplace(const std::u16string& from, const std::u16string& to) {
  const auto source = nativePath(from);
  const auto target = nativePath(to);
  if (!source || !target) return IoStatus::other;
  // The content must be on the disk before the name says it is complete.
  if (const IoStatus synced = syncPath(*source, O_RDONLY); synced != IoStatus::ok) return synced;
  if (renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return statusOf(errno);
    // The file system cannot rename without replacing: a hard link can. The
    // move is whole only once the old name is gone; otherwise the new name
    // is taken back, so that the caller's clean-up leaves neither.
    if (link(source->c_str(), target->c_str()) != 0) return statusOf(errno);
    if (unlink(source->c_str()) != 0) {
      const IoStatus failed = statusOf(errno);
      unlink(target->c_str());
      return failed;
    }
  }
  return syncPath(directoryOf(*target), O_RDONLY | O_DIRECTORY);
}

}  // namespace folio::platform
