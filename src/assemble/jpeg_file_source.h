// Placed JPEGs read from their files only when PDFium asks for their bytes,
// so that the document holds paths rather than photos until it is saved. A
// file that changed after its check never becomes a different page: every
// read is held against the length and fingerprint taken at the check, and a
// save that did not read each file whole and unchanged is refused.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "assemble/fingerprint.h"
#include "pdfium/fpdf_api.h"

namespace folio::assemble {

// One file's bytes from its start to the end of the image, as checked.
class JpegFileSource {
 public:
  JpegFileSource(std::u16string path, std::uint64_t length, std::uint64_t fingerprint);
  JpegFileSource(const JpegFileSource&) = delete;
  JpegFileSource& operator=(const JpegFileSource&) = delete;

  // What PDFium reads through; it must outlive the document.
  FPDF_FILEACCESS* access() { return &access_; }

  // False once a read found the file shorter, unreadable or different.
  bool unchanged() const { return !failed_; }

  // Reads the bytes whole, now: whether they are still those checked.
  bool readWholeNow();

  const std::u16string& path() const { return path_; }

  // Reads the checked bytes into memory, where later reads find them, so
  // that the file may go; false when it no longer holds them. The bytes
  // another source of the same file kept are shared, not read again.
  bool keepBytes(const JpegFileSource* sameFile);

  // Forgets that the bytes were read whole, before a save reads them again.
  void forgetWholeRead() { wholeReadMatched_ = false; }
  bool readWholeAndMatched() const { return wholeReadMatched_ && !failed_; }

 private:
  static int getBlock(void* param, unsigned long position, unsigned char* out, unsigned long size);
  bool read(std::uint64_t position, unsigned char* out, std::uint64_t size);
  void follow(std::uint64_t position, const unsigned char* data, std::uint64_t size);

  FPDF_FILEACCESS access_;
  std::u16string path_;
  std::uint64_t length_;
  std::uint64_t fingerprint_;
  // The bytes read so far from the start, in order, as long as the reads
  // follow one another; a read at the start begins it again.
  Fingerprint running_;
  bool following_ = false;
  bool wholeReadMatched_ = false;
  bool failed_ = false;
  std::shared_ptr<const std::vector<unsigned char>> kept_;  // the bytes, once kept
};

// Every placed JPEG of a document; addresses stay put as it grows.
class JpegFileSources {
 public:
  JpegFileSource& add(std::u16string path, std::uint64_t length, std::uint64_t fingerprint) {
    return sources_.emplace_back(std::move(path), length, fingerprint);
  }
  // Forgets the source added last, which no page took.
  void dropLast() { sources_.pop_back(); }
  void forgetWholeReads() {
    for (JpegFileSource& s : sources_) s.forgetWholeRead();
  }
  // Keeps in memory the bytes of every placed file that is the file at
  // path, which the save is about to remove: the document still reads
  // them. False when one no longer holds what was checked.
  bool keepBytesOfFileAt(const std::u16string& path);

  // After a save: whether every file was read whole and held what was checked.
  bool allReadWholeAndMatched() const {
    for (const JpegFileSource& s : sources_) {
      if (!s.readWholeAndMatched()) return false;
    }
    return true;
  }

 private:
  std::deque<JpegFileSource> sources_;
};

}  // namespace folio::assemble
