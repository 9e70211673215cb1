// The new file on Windows, from the file calls alone: written under its
// temporary name (or in place) and moved to its name, as the system's move
// without replacing allows.
#include "platform/new_file.h"

namespace folio::platform {

// With the other file calls: flushes the file at from, then renames it to to
// with MOVEFILE_WRITE_THROUGH, never replacing a file there.
IoStatus moveFileNoReplace(const std::u16string& from, const std::u16string& to);

struct NewFile::State {
  File file;
  std::u16string target, temporary;
  bool named = false;  // the target name was given
  bool kept = false;
  ~State() {
    file.close();
    if (!kept) deleteFile(named ? target : temporary);
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
  File file = createNewFile(temporary, &result);
  if (!file.isOpen()) return NewFile();
  NewFile created;
  created.state_ = std::make_unique<State>();
  State& s = *created.state_;
  s.file = std::move(file);
  s.target = target;
  s.temporary = temporary;
  return created;
}

IoStatus NewFile::commit() {
  if (!isOpen()) return IoStatus::other;
  State& s = *state_;
  if (const IoStatus flushed = s.file.flush(); flushed != IoStatus::ok) return flushed;
  s.file.close();
  if (s.temporary == s.target) {
    s.named = true;
    return IoStatus::ok;
  }
  const IoStatus moved = moveFileNoReplace(s.temporary, s.target);
  s.named = moved == IoStatus::ok;
  return moved;
}

}  // namespace folio::platform
