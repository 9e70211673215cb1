// A file that appears under its name only whole and on the disk, and whose
// name, once given, can still be taken back until the caller keeps it.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace folio::platform {

// The bytes go to a file that has no name yet or, where the file system
// cannot make one, to a temporary name beside the target. commit() gives the
// target name without ever replacing a file there. Until keep() is called,
// the holder removes whatever of this file is on the disk when it goes (the
// temporary name, or the target name once given), and only while that name
// still is this very file: another program's file that took one of the names
// meanwhile stays, and is never given the target name.
class NewFile {
 public:
  NewFile();
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) noexcept;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Opens a new file for target. temporary is the name it is written under
  // where no unnamed file can be had; when it equals target, the file is
  // written in place there. On failure nothing is created and status says
  // why.
  static NewFile create(const std::u16string& target, const std::u16string& temporary,
                        IoStatus* status);

  bool isOpen() const;
  File& file();

  // Puts the bytes on the disk, gives the file the target name and puts the
  // name on the disk; an error at any step (the file's sync, its close, the
  // folder's sync) fails it, and a name already given is taken back when the
  // holder goes.
  IoStatus commit();

  // The file keeps its name when the holder goes.
  void keep();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// For a process about to end at once, from a signal's handler: removes
// every name of a new file that is on the disk and not kept, as its holder
// would have, with calls that are safe there. On Windows, where no handler
// needs it yet, it removes nothing.
void removeUnfinishedNewFiles();

}  // namespace folio::platform
