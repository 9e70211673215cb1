// The new file on POSIX systems: written without a name where the file
// system can hold such a file, else under its temporary name (or in place),
// in a folder held open for the whole of its life.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/native_path_posix.h"
#include "platform/new_file.h"
#include "platform/posix_support.h"

namespace folio::platform {
namespace {

using posix::fdOf;
using posix::statusOf;

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// A file without a name can be given one through /proc/self/fd; without
// /proc (a sandbox or chroot that leaves it out), only a process allowed to
// link a bare descriptor can, which before Linux 6.10 takes a capability.
// Where /proc is missing, files therefore take a temporary name from the
// start, which any process that may write the folder can rename.
bool canNameUnnamedFiles() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

// The new files not yet complete under the target's name, where the handler
// of a signal that ends the process finds them: it removes each of their
// names that is still the very file, with calls that are safe there. A file
// given the target's name is complete and stays, as its holder's caller
// decides whether to keep it. A slot is 0 when free, 1 while its owner fills
// it and 2 when it holds a file. A job writes one file at a time, so a few
// slots are plenty; a file that finds none is left to the system's own end
// of the process, which removes only a file without a name.
struct Unfinished {
  std::atomic<int> state{0};
  int directory = -1;
  dev_t device = 0;
  ino_t inode = 0;
  char names[2][NAME_MAX + 1] = {};  // the target's and the temporary name, or an empty one
};
Unfinished unfinished[4];

}  // namespace

void removeUnfinishedNewFiles() {
  for (Unfinished& u : unfinished) {
    if (u.state.load() != 2) continue;
    for (const char* name : u.names) {
      struct stat st;
      if (name[0] != '\0' && fstatat(u.directory, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          st.st_dev == u.device && st.st_ino == u.inode) {
        unlinkat(u.directory, name, 0);
      }
    }
  }
}

// A new file lives in a folder held open for the whole of its life: its names
// are given, checked and taken back relative to that folder, and the folder
// is synced through it, so a folder that cannot be opened fails the file
// before a byte is written.
struct NewFile::State {
  int directory = -1;
  File file;
  std::string name;       // the target's name in the folder
  std::string temporary;  // the temporary name; empty for a file without a name
  dev_t device = 0;
  ino_t inode = 0;
  bool temporaryGiven = false;  // whether each name is, as far as we know, ours on the disk
  bool nameGiven = false;
  bool kept = false;
  int slot = -1;  // in unfinished, from its creation until it has the target's name

  // Whether that name in the folder is still this very file: another run's
  // clean-up may have removed it and put its own file there.
  bool isOurs(const std::string& entry) const {
    struct stat st;
    return fstatat(directory, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           st.st_dev == device && st.st_ino == inode;
  }
  void takeBack(const std::string& entry, bool& given) {
    // Whatever its mode: this is our own file, not one put in our way.
    if (given && isOurs(entry)) unlinkat(directory, entry.c_str(), 0);
    given = false;
  }
  void watch() {
    if (name.size() > NAME_MAX || temporary.size() > NAME_MAX) return;
    for (int i = 0; slot < 0 && i < static_cast<int>(std::size(unfinished)); ++i) {
      int free = 0;
      if (unfinished[i].state.compare_exchange_strong(free, 1)) slot = i;
    }
    if (slot < 0) return;
    Unfinished& u = unfinished[slot];
    u.directory = directory;
    u.device = device;
    u.inode = inode;
    std::memcpy(u.names[0], name.c_str(), name.size() + 1);
    std::memcpy(u.names[1], temporary.c_str(), temporary.size() + 1);
    u.state = 2;
  }
  void unwatch() {
    if (slot >= 0) unfinished[std::exchange(slot, -1)].state = 0;
  }
  ~State() {
    if (!kept) {
      takeBack(temporary, temporaryGiven);
      takeBack(name, nameGiven);
    }
    unwatch();
    if (directory >= 0) ::close(directory);
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
  result = IoStatus::other;
  const auto nativeTarget = nativePath(target);
  const auto nativeTemporary = nativePath(temporary);
  if (!nativeTarget || !nativeTemporary) return NewFile();
  NewFile created;
  created.state_ = std::make_unique<State>();
  State& s = *created.state_;
  s.name = nameOf(*nativeTarget);
  s.directory = open(directoryOf(*nativeTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (s.directory < 0) {
    result = statusOf(errno);
    return NewFile();
  }
  // Unnamed, nobody can reach it before it is complete, nor take its name
  // from it; only file systems that cannot hold such a file get a
  // temporary name.
  int fd =
      canNameUnnamedFiles() ? openat(s.directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
  if (fd < 0) {
    s.temporary = nameOf(*nativeTemporary);
    fd = openat(s.directory, s.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      result = statusOf(errno);
      return NewFile();
    }
  }
  s.file = File(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    result = statusOf(errno);
    if (!s.temporary.empty()) unlinkat(s.directory, s.temporary.c_str(), 0);
    return NewFile();
  }
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.temporaryGiven = !s.temporary.empty();
  s.watch();
  result = IoStatus::ok;
  return created;
}

IoStatus NewFile::commit() {
  if (!isOpen()) return IoStatus::other;
  State& s = *state_;
  const int fd = fdOf(s.file.handle_);
  // The content must be on the disk before a name says it is complete.
  if (fsync(fd) != 0) return statusOf(errno);
  if (s.temporary.empty()) {
    // The name goes to the file behind our descriptor, whatever happened to
    // any path meanwhile; an existing file of that name makes it fail. Only
    // a process that found /proc makes a file without a name.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, s.directory, s.name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      return statusOf(errno);
    }
    s.nameGiven = true;
    s.unwatch();
  } else {
    // Named by path, the file is told by its device and inode, which stay
    // its own only while our descriptor holds it open: closed, its number
    // could pass to the next file made in the folder. Right before the name
    // is given the temporary name must still be our file (another run's
    // clean-up may have put its own there), and right after it the target
    // name must be, as that can happen between the two.
    if (!s.isOurs(s.temporary)) return IoStatus::other;
    const char* from = s.temporary.c_str();
    const char* to = s.name.c_str();
    if (s.temporary == s.name) {
      s.nameGiven = std::exchange(s.temporaryGiven, false);
      s.unwatch();
    } else if (renameat2(s.directory, from, s.directory, to, RENAME_NOREPLACE) == 0) {
      if (!s.isOurs(s.name)) {
        // Another run's file goes back where it was, or loses the name.
        if (renameat2(s.directory, to, s.directory, from, RENAME_NOREPLACE) != 0) {
          unlinkat(s.directory, to, 0);
        }
        return IoStatus::other;
      }
      s.temporaryGiven = false;
      s.nameGiven = true;
      s.unwatch();
    } else {
      if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return statusOf(errno);
      // The file system cannot rename without replacing: a hard link can,
      // and an extra link to another run's file is simply dropped.
      if (linkat(s.directory, from, s.directory, to, 0) != 0) return statusOf(errno);
      if (!s.isOurs(s.name)) {
        unlinkat(s.directory, to, 0);
        return IoStatus::other;
      }
      s.nameGiven = true;
      s.unwatch();
      if (unlinkat(s.directory, from, 0) != 0) return statusOf(errno);
      s.temporaryGiven = false;
    }
  }
  // Network file systems and quotas report some write errors only here.
  if (::close(fdOf(std::exchange(s.file.handle_, File::kInvalid))) != 0 && errno != EINTR) {
    return statusOf(errno);
  }
  // A folder that cannot be synced at all is no failure; one that fails to
  // is, and takes the name back.
  if (fsync(s.directory) != 0 && errno != EINVAL) return statusOf(errno);
  return IoStatus::ok;
}

}  // namespace folio::platform
