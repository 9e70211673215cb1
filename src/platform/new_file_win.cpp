// The new file on Windows: written under its temporary name (or in place),
// and named, flushed and, where a step fails, removed through the one handle
// that wrote it. Nobody else may write or delete the file while that handle
// is open, and a name given through it can only go to the file behind it:
// another run's clean-up that puts a file under our temporary name never
// has that file named.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/new_file.h"
#include "platform/win_support.h"

namespace folio::platform {
namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Gives the file behind handle the name at path, which must be free.
IoStatus renameNoReplace(HANDLE handle, const std::u16string& path) {
  const std::wstring name = win::objectPath(path);
  const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
  std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = nameBytes;
  std::memcpy(info->FileName, name.c_str(), nameBytes + sizeof(wchar_t));
  if (SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    return IoStatus::ok;
  }
  return win::statusOfError(GetLastError());
}

}  // namespace

struct NewFile::State {
  File file;
  std::u16string target, temporary;
  bool kept = false;
  ~State() {
    // Whatever name the file has by now goes with it, and only this file's.
    if (!kept && file.isOpen()) {
      FILE_DISPOSITION_INFO remove{TRUE};
      SetFileInformationByHandle(handleOf(file.handle_), FileDispositionInfo, &remove,
                                 sizeof remove);
    }
  }
};

NewFile::NewFile() = default;
NewFile::~NewFile() = default;
NewFile::NewFile(NewFile&& other) noexcept = default;
NewFile& NewFile::operator=(NewFile&& other) noexcept = default;

bool NewFile::isOpen() const { return state_ && state_->file.isOpen(); }

File& NewFile::file() { return state_->file; }

void NewFile::keep() {
  if (state_) state_->kept = true;
  state_.reset();
}

NewFile NewFile::create(const std::u16string& target, const std::u16string& temporary,
                        IoStatus* status) {
  IoStatus ignored;
  IoStatus& result = status ? *status : ignored;
  // Shared with nobody: no one else can write, rename or remove the file
  // while we hold it.
  const HANDLE handle =
      CreateFileW(win::systemPath(temporary).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    result = win::statusOfError(GetLastError());
    return NewFile();
  }
  result = IoStatus::ok;
  NewFile created;
  created.state_ = std::make_unique<State>();
  State& s = *created.state_;
  s.file = File(reinterpret_cast<std::intptr_t>(handle));
  s.target = target;
  s.temporary = temporary;
  return created;
}

IoStatus NewFile::commit() {
  if (!isOpen()) return IoStatus::other;
  State& s = *state_;
  const HANDLE handle = handleOf(s.file.handle_);
  // The content must be on the disk before a name says it is complete.
  if (const IoStatus flushed = s.file.flush(); flushed != IoStatus::ok) return flushed;
  if (s.temporary == s.target) return IoStatus::ok;
  if (const IoStatus named = renameNoReplace(handle, s.target); named != IoStatus::ok) {
    return named;
  }
  // The new name on the disk too, as a move that writes through puts it.
  return s.file.flush();
}

void removeUnfinishedNewFiles() {}

}  // namespace folio::platform
