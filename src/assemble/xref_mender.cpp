#include "assemble/xref_mender.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

namespace folio::assemble {
namespace {

// Offsets below this PDFium prints exactly: a table that starts there needs
// nothing put right.
constexpr std::uint64_t kExactBelow = std::uint64_t{1} << 31;
constexpr std::uint64_t kWrap = std::uint64_t{1} << 32;
// A line longer than these is neither an object header, nor the table's start,
// nor a line of the table or its trailer.
constexpr size_t kMaxHeaderLine = 32;
constexpr size_t kMaxTableLine = 256;
constexpr int kMaxTrailerLines = 16;
// More than these is no table of ours (10000 pages take under a megabyte) and
// no document's object count: data that merely looks like them.
constexpr size_t kMaxTableBytes = 16 << 20;
constexpr size_t kMaxHeaders = 1 << 20;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, at most 19 of them; none when it is anything else.
std::optional<std::uint64_t> decimal(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!isDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// "N 0 obj", the line that starts object N.
std::optional<std::uint64_t> objectHeader(std::string_view line) {
  constexpr std::string_view kTail = " 0 obj";
  if (line.size() <= kTail.size() || !line.ends_with(kTail)) return std::nullopt;
  return decimal(line.substr(0, line.size() - kTail.size()));
}

// A table entry's offset as printed: ten digits, or a minus sign and nine or
// ten digits (a 32-bit offset gone negative). Its value modulo 2^32.
std::optional<std::uint32_t> printedOffset(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  const std::string_view digits = negative ? text.substr(1) : text;
  if (text.size() != 10 && !(negative && text.size() == 11)) return std::nullopt;
  const std::optional<std::uint64_t> value = decimal(digits);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(negative ? 0 - *value : *value);
}

}  // namespace

bool XrefMender::write(const void* data, size_t size) {
  if (size > kMaxPdfFileBytes - position()) {
    refused_ = true;
    return false;
  }
  return consume(static_cast<const char*>(data), size);
}

bool XrefMender::emit(const char* data, size_t size) {
  if (size == 0) return true;
  if (!output_(data, size)) return false;
  emitted_ += size;
  return true;
}

bool XrefMender::emitHeld() {
  const bool ok = emit(held_.data(), held_.size());
  held_.clear();
  return ok;
}

bool XrefMender::consume(const char* data, size_t size) {
  const char* const end = data + size;
  while (data < end) {
    if (mode_ == Mode::scanning) {
      // Straight through to the next line end, which starts a line worth a
      // look: most bytes are image data and go on as they are.
      const char* next = nullptr;
      for (const char* at = data; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
        if (at == nullptr) break;
        if ((at > data ? at[-1] : last_) == '\r') {
          next = at + 1;
          break;
        }
      }
      const char* until = next != nullptr ? next : end;
      if (!emit(data, static_cast<size_t>(until - data))) return false;
      last_ = until[-1];
      data = until;
      if (next != nullptr) mode_ = Mode::line;
      continue;
    }
    const char c = *data++;
    last_ = c;
    if (mode_ == Mode::table) {
      if (!tableByte(c)) return false;
      continue;
    }
    held_ += c;
    if (c == '\n' && held_.size() >= 2 && held_[held_.size() - 2] == '\r') {
      if (!endOfLine()) return false;
    } else if (held_.size() > kMaxHeaderLine || !(isDigit(held_[0]) || held_[0] == 'x')) {
      // Neither an object header nor the table: back to passing bytes on.
      if (!emitHeld()) return false;
      mode_ = Mode::scanning;
    }
  }
  return true;
}

// A whole line held in line mode, with its line end.
bool XrefMender::endOfLine() {
  const std::string_view line(held_.data(), held_.size() - 2);
  if (line == "xref") {
    mode_ = Mode::table;
    part_ = Part::subsection;
    lineFrom_ = held_.size();
    entries_.clear();
    trailerLines_ = 0;
    return true;
  }
  if (const std::optional<std::uint64_t> object = objectHeader(line)) {
    if (headers_.size() < kMaxHeaders) {
      headers_.push_back({emitted_, *object});
    } else {
      headersOverflowed_ = true;
    }
  }
  return emitHeld();  // the next line starts here
}

bool XrefMender::tableByte(char c) {
  if (part_ == Part::complete || held_.size() >= kMaxTableBytes) {
    held_ += c;
    return rejectTable();
  }
  held_ += c;
  const size_t length = held_.size() - lineFrom_;
  if (length > kMaxTableLine) return rejectTable();
  if (c != '\n' || length < 2 || held_[held_.size() - 2] != '\r') return true;
  if (!tableLine(std::string_view(held_).substr(lineFrom_, length - 2))) return rejectTable();
  lineFrom_ = held_.size();
  return true;
}

// One line of the table and its trailer, as PDFium writes them; false for a
// line that does not belong there.
bool XrefMender::tableLine(std::string_view line) {
  switch (part_) {
    case Part::subsection: {
      if (line == "trailer") {
        part_ = Part::trailer;
        return true;
      }
      const size_t space = line.find(' ');
      if (space == std::string_view::npos) return false;
      const auto first = decimal(line.substr(0, space));
      const auto count = decimal(line.substr(space + 1));
      if (!first || !count) return false;
      nextObject_ = *first;
      entriesLeft_ = *count;
      if (entriesLeft_ > 0) part_ = Part::entries;
      return true;
    }
    case Part::entries: {
      // "OFFSET GGGGG n" or "OFFSET GGGGG f", the offset as printed.
      if (line.size() < 18) return false;
      const std::string_view tail = line.substr(line.size() - 8);
      const std::optional<std::uint32_t> offset = printedOffset(line.substr(0, line.size() - 8));
      if (!offset || tail[0] != ' ' || !decimal(tail.substr(1, 5)) || tail[6] != ' ') return false;
      if (tail[7] == 'n') {
        entries_.push_back({nextObject_, *offset, lineFrom_});
      } else if (tail[7] != 'f') {
        return false;
      }
      ++nextObject_;
      if (--entriesLeft_ == 0) part_ = Part::subsection;
      return true;
    }
    case Part::trailer:
      if (line == "startxref") {
        part_ = Part::startxref;
        return true;
      }
      // The trailer's dictionary: "<<", then lines of keys such as "/Root 1 0 R".
      return ++trailerLines_ <= kMaxTrailerLines && !line.empty() &&
             (line[0] == '<' || line[0] == '/');
    case Part::startxref: {
      const std::optional<std::uint64_t> value = decimal(line);
      if (!value) return false;
      startxref_ = *value;
      startxrefLine_ = lineFrom_;
      part_ = Part::end;
      return true;
    }
    case Part::end:
      if (line != "%%EOF") return false;
      part_ = Part::complete;
      return true;
    case Part::complete:
      break;
  }
  return false;
}

// What looked like the table's start was data: the whole lines held go on as
// they are, and the line that broke the pattern is looked at again as a line
// of its own.
bool XrefMender::rejectTable() {
  const std::string rest = held_.substr(lineFrom_);
  held_.resize(lineFrom_);
  if (!emitHeld()) return false;
  mode_ = Mode::line;
  last_ = '\n';
  return consume(rest.data(), rest.size());
}

bool XrefMender::finish() {
  if (mode_ == Mode::table && part_ == Part::complete) {
    if (emitted_ < kExactBelow) return emitHeld();
    if (mendTable()) return emitHeld();
  } else {
    // No table was found: only a document whose every offset PDFium printed
    // exactly may go out without one put right.
    if (!emitHeld()) return false;
    if (emitted_ < kExactBelow) return true;
  }
  refused_ = true;
  return false;
}

// Each entry takes the position of the one header of its object that agrees
// with its printed offset modulo 2^32 and lies before the table; startxref
// must agree with the table's own position. Anything else is refused.
bool XrefMender::mendTable() {
  const std::uint64_t table = emitted_;
  if (headersOverflowed_ || startxref_ % kWrap != table % kWrap) return false;
  std::string mended;
  mended.reserve(held_.size());
  size_t copied = 0;
  for (const Entry& entry : entries_) {
    std::optional<std::uint64_t> found;
    for (std::uint64_t at = entry.printed; at < table; at += kWrap) {
      const auto header =
          std::lower_bound(headers_.begin(), headers_.end(), at,
                           [](const Header& h, std::uint64_t p) { return h.position < p; });
      if (header == headers_.end() || header->position != at || header->object != entry.object) {
        continue;
      }
      if (found) return false;  // two headers of the object fit: no way to tell
      found = at;
    }
    if (!found) return false;
    const size_t lineEnd = held_.find("\r\n", entry.line) + 2;
    const std::string digits = std::to_string(*found);  // at most ten: found < kMaxPdfFileBytes
    mended.append(held_, copied, entry.line - copied).append(10 - digits.size(), '0');
    mended.append(digits).append(" 00000 n\r\n");
    copied = lineEnd;
  }
  mended.append(held_, copied, startxrefLine_ - copied);
  mended.append(std::to_string(table)).append("\r\n%%EOF\r\n");
  held_ = std::move(mended);
  return true;
}

}  // namespace folio::assemble
