#include "assemble/jpeg_file_source.h"

#include <cstring>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace folio::assemble {

JpegFileSource::JpegFileSource(std::u16string path, std::uint64_t length, std::uint64_t fingerprint)
    : access_{static_cast<unsigned long>(length), getBlock, this},
      path_(std::move(path)),
      length_(length),
      fingerprint_(fingerprint) {}

int JpegFileSource::getBlock(void* param, unsigned long position, unsigned char* out,
                             unsigned long size) {
  auto& source = *static_cast<JpegFileSource*>(param);
  if (source.failed_) return 0;
  // Nothing may be thrown through PDFium's frames.
  try {
    if (!source.read(position, out, size)) {
      source.failed_ = true;
      return 0;
    }
  } catch (...) {
    source.failed_ = true;
    return 0;
  }
  source.follow(position, out, size);
  return source.failed_ ? 0 : 1;
}

bool JpegFileSource::readWholeNow() {
  try {
    std::vector<unsigned char> bytes(static_cast<size_t>(length_));
    forgetWholeRead();
    return getBlock(this, 0, bytes.data(), static_cast<unsigned long>(length_)) == 1 &&
           readWholeAndMatched();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The file is opened for each read and closed after it: a document of
// thousands of pages holds no descriptor for any of them.
bool JpegFileSource::read(std::uint64_t position, unsigned char* out, std::uint64_t size) {
  if (position > length_ || size > length_ - position) return false;
  if (kept_) {
    std::memcpy(out, kept_->data() + position, static_cast<size_t>(size));
    return true;
  }
  platform::File file = platform::openForReading(path_);
  if (!file.isOpen()) return false;
  while (size > 0) {
    const size_t chunk = size < (std::uint64_t{1} << 30) ? static_cast<size_t>(size) : 1u << 30;
    const size_t got = file.readSomeAt(position, out, chunk);
    if (got == 0) return false;
    position += got;
    out += got;
    size -= got;
  }
  return true;
}

bool JpegFileSource::keepBytes(const JpegFileSource* sameFile) {
  if (kept_) return true;
  if (sameFile != nullptr && sameFile->kept_ && sameFile->length_ == length_ &&
      sameFile->fingerprint_ == fingerprint_) {
    kept_ = sameFile->kept_;
    return true;
  }
  if (failed_) return false;
  auto bytes = std::make_shared<std::vector<unsigned char>>(static_cast<size_t>(length_));
  if (!read(0, bytes->data(), length_)) return false;
  Fingerprint held;
  held.add(bytes->data(), bytes->size());
  if (held.value() != fingerprint_) return false;
  kept_ = std::move(bytes);
  return true;
}

bool JpegFileSources::keepBytesOfFileAt(const std::u16string& path) {
  const std::optional<platform::FileIdentity> target = platform::queryFileIdentity(path);
  if (!target) return true;
  const JpegFileSource* kept = nullptr;  // a file listed many times is held once
  for (JpegFileSource& source : sources_) {
    if (platform::queryFileIdentity(source.path()) != target) continue;
    if (!source.keepBytes(kept)) return false;
    kept = &source;
  }
  return true;
}

void JpegFileSource::follow(std::uint64_t position, const unsigned char* data, std::uint64_t size) {
  if (position == 0) {
    running_ = Fingerprint();
    following_ = true;
  } else if (!following_ || position != running_.length()) {
    following_ = false;
    return;
  }
  running_.add(data, static_cast<std::size_t>(size));
  if (running_.length() != length_) return;
  following_ = false;
  if (running_.value() == fingerprint_) {
    wholeReadMatched_ = true;
  } else {
    failed_ = true;
  }
}

}  // namespace folio::assemble
