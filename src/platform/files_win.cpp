#include <windows.h>

#include <climits>
#include <utility>

#include "platform/files.h"
#include "platform/win_support.h"

namespace folio::platform {
namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile take 32-bit counts.
DWORD chunkOf(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

}  // namespace

PathKind queryPathKind(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(win::systemPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::directory : PathKind::file;
}

std::optional<std::uint64_t> queryFileSize(const std::u16string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(win::systemPath(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::optional<FileIdentity> queryFileIdentity(const std::u16string& path) {
  // Opened for no access at all: only its attributes are read.
  const HANDLE handle = CreateFileW(win::systemPath(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

size_t File::readSome(void* buffer, size_t size) {
  if (!isOpen()) return 0;
  DWORD read = 0;
  if (!ReadFile(handleOf(handle_), buffer, chunkOf(size), &read, nullptr)) return 0;
  return read;
}

size_t File::readSomeAt(std::uint64_t offset, void* buffer, size_t size) {
  if (!isOpen()) return 0;
  // On a handle opened for plain reads the offset in OVERLAPPED places a
  // read that still completes before the call returns.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (!ReadFile(handleOf(handle_), buffer, chunkOf(size), &read, &at)) return 0;
  return read;
}

std::optional<std::uint64_t> File::size() const {
  LARGE_INTEGER size;
  if (!isOpen() || !GetFileSizeEx(handleOf(handle_), &size) || size.QuadPart < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

File::WriteResult File::writeSome(const void* data, size_t size) {
  if (!isOpen()) return {0, IoStatus::other};
  DWORD written = 0;
  if (!WriteFile(handleOf(handle_), data, chunkOf(size), &written, nullptr)) {
    return {0, win::statusOfError(GetLastError())};
  }
  // A write that takes nothing without an error ends the attempt all the same.
  if (written == 0) return {0, win::statusOfError(GetLastError())};
  return {written, IoStatus::ok};
}

IoStatus File::flush() {
  if (!isOpen()) return IoStatus::other;
  return FlushFileBuffers(handleOf(handle_)) ? IoStatus::ok : win::statusOfError(GetLastError());
}

void File::close() {
  if (isOpen()) CloseHandle(handleOf(std::exchange(handle_, kInvalid)));
}

File openForReading(const std::u16string& path) {
  const HANDLE handle =
      CreateFileW(win::systemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  File file(reinterpret_cast<std::intptr_t>(handle));
  // Only a file on a disk: a pipe or a device could keep a reader waiting.
  if (GetFileType(handle) != FILE_TYPE_DISK) return File();
  return file;
}

bool deleteFile(const std::u16string& path) {
  return DeleteFileW(win::systemPath(path).c_str()) != 0;
}

}  // namespace folio::platform
