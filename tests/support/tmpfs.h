#pragma once

#include <string>

namespace folio::test {

// A small tmpfs mounted for one test, so that a full disk is a real one.
// Needs root; a test that cannot mount fails loudly rather than passing.
class ScopedTmpfs {
 public:
  ScopedTmpfs(const std::string& mountPoint, size_t bytes);
  ~ScopedTmpfs();
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

  // Fills the file system to the last byte with one file of that name.
  void fill(const std::string& name) const;

 private:
  std::string mountPoint_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace folio::test
