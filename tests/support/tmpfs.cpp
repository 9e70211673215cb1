#include "support/tmpfs.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

#include <vector>

namespace folio::test {

ScopedTmpfs::ScopedTmpfs(const std::string& mountPoint, size_t bytes) : mountPoint_(mountPoint) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  if (mount("folio-test", mountPoint.c_str(), "tmpfs", 0, options.c_str()) == 0) {
    mounted_ = true;
  } else {
    error_ = std::string("cannot mount a tmpfs at ") + mountPoint + ": " + strerror(errno) +
             " (full-disk tests need root)";
  }
}

ScopedTmpfs::~ScopedTmpfs() {
  if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
}

void ScopedTmpfs::fill(const std::string& name) const {
  const int fd = open((mountPoint_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  std::vector<char> block(65536, 'x');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, block.data(), 1) > 0) {
  }
  close(fd);
}

}  // namespace folio::test
