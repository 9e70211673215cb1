// Puts right the cross-reference table of a document as PDFium writes it.
//
// PDFium prints each object's offset in the table as a signed 32-bit number:
// past 2 GiB the table holds negative offsets, past 4 GiB offsets that wrapped
// round, and readers must rebuild the table or give up. startxref and the
// trailer it prints right. Every byte it writes passes through here on its way
// to the file, so the true offsets are known: each line that is an object
// header is noted with its position as it passes, the table at the end is
// held back, and each of its offsets becomes the position of the one header
// of that object that agrees with it in the low 32 bits. A table that cannot
// be put right that way is refused, never written damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace folio::assemble {

// The table's offsets have ten digits: no document may grow beyond this.
inline constexpr std::uint64_t kMaxPdfFileBytes = 9'999'999'999;

class XrefMender {
 public:
  // Where the bytes go on, in order; false stops the writing.
  using Output = std::function<bool(const char* data, size_t size)>;
  explicit XrefMender(Output output) : output_(std::move(output)) {}

  // The next bytes as PDFium wrote them, in blocks cut anywhere. False when
  // the output failed or the document grew past kMaxPdfFileBytes.
  bool write(const void* data, size_t size);

  // After the last block: what was held back goes out, the table put right.
  // False when the output failed, or when the document is 2 GiB or more and
  // its table cannot be put right soundly.
  bool finish();

  // Whether the writing stopped because the document outgrew its table or its
  // table could not be put right, rather than because the output failed.
  bool refused() const { return refused_; }

 private:
  enum class Mode { scanning, line, table };
  enum class Part { subsection, entries, trailer, startxref, end, complete };
  struct Header {
    std::uint64_t position;
    std::uint64_t object;
  };
  struct Entry {
    std::uint64_t object;
    std::uint32_t printed;  // the offset as printed, modulo 2^32
    size_t line;            // where its line starts in held_
  };

  bool consume(const char* data, size_t size);
  bool emit(const char* data, size_t size);
  bool emitHeld();
  bool endOfLine();
  bool tableByte(char c);
  bool tableLine(std::string_view line);
  bool rejectTable();
  bool mendTable();
  std::uint64_t position() const { return emitted_ + held_.size(); }

  Output output_;
  Mode mode_ = Mode::line;  // the first byte starts a line
  char last_ = '\n';        // the byte taken last
  std::uint64_t emitted_ = 0;
  std::string held_;  // taken, not yet given to the output; starts at emitted_
  std::vector<Header> headers_;
  bool headersOverflowed_ = false;
  bool refused_ = false;
  // The table being read: it starts at held_[0], at position emitted_.
  Part part_ = Part::subsection;
  size_t lineFrom_ = 0;  // where its current line starts in held_
  std::uint64_t nextObject_ = 0;
  std::uint64_t entriesLeft_ = 0;
  int trailerLines_ = 0;
  std::vector<Entry> entries_;
  size_t startxrefLine_ = 0;
  std::uint64_t startxref_ = 0;
};

}  // namespace folio::assemble
