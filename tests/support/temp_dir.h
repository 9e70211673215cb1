#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace folio::test {

// A fresh folder, removed with everything in it when the holder goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> listDir(const std::string& path);

}  // namespace folio::test
