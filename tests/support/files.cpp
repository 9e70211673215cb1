// Folders, files, mounts and hand-written bytes for the tests.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/bytes.h"
#include "support/temp_dir.h"
#include "support/tmpfs.h"

namespace folio::test {

std::string le16(std::uint32_t value) { return {char(value & 0xFF), char((value >> 8) & 0xFF)}; }
std::string le32(std::uint32_t value) { return le16(value & 0xFFFF) + le16(value >> 16); }
std::string be32(std::uint32_t value) {
  return {char(value >> 24), char((value >> 16) & 0xFF), char((value >> 8) & 0xFF),
          char(value & 0xFF)};
}

std::string imageListBytes(const std::vector<std::u16string>& entries) {
  std::string out = le32(static_cast<std::uint32_t>(entries.size()));
  for (const auto& entry : entries) {
    out += le32(static_cast<std::uint32_t>(entry.size()));
    for (char16_t unit : entry) out += le16(unit);
  }
  return out;
}

std::u16string wide(const std::string& bytes) {
  std::u16string out;
  for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "folio-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScopedTmpfs::ScopedTmpfs(const std::string& mountPoint, size_t bytes) : mountPoint_(mountPoint) {
  std::filesystem::create_directories(mountPoint);
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  mounted_ = mount("folio-test", mountPoint.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (!mounted_) {
    error_ = "cannot mount a tmpfs at " + mountPoint + ": " + strerror(errno) +
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
