#include "codecs/imaging.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "codecs/libs/codecs.h"

namespace folio::codecs {
namespace libs {
namespace {

// Large enough that a decoder asks the system for data rarely, small enough
// that reading ahead of the first GIF image or the JPEG header costs nothing.
constexpr size_t kChunkSize = 64 * 1024;

}  // namespace

ByteSource::ByteSource(File file) : file_(std::move(file)), buffer_(kChunkSize) {}

bool ByteSource::fill(size_t wanted) {
  if (end_ - begin_ >= wanted) return true;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() < wanted) buffer_.resize(wanted);
  while (end_ < wanted) {
    const size_t n = file_.readSome(buffer_.data() + end_, buffer_.size() - end_);
    if (n == 0) return false;
    end_ += n;
  }
  return true;
}

size_t ByteSource::peek(size_t size, const std::uint8_t** data) {
  fill(size);
  *data = buffer_.data() + begin_;
  return std::min(size, end_ - begin_);
}

size_t ByteSource::read(void* out, size_t size) {
  auto* to = static_cast<std::uint8_t*>(out);
  size_t done = 0;
  while (done < size) {
    if (begin_ == end_) {
      // Large reads go straight to the caller; small ones through the buffer.
      if (size - done >= buffer_.size()) {
        const size_t n = file_.readSome(to + done, size - done);
        if (n == 0) break;
        done += n;
        continue;
      }
      begin_ = end_ = 0;
      const size_t n = file_.readSome(buffer_.data(), buffer_.size());
      if (n == 0) break;
      end_ = n;
    }
    const size_t n = std::min(size - done, end_ - begin_);
    std::memcpy(to + done, buffer_.data() + begin_, n);
    begin_ += n;
    done += n;
  }
  return done;
}

ByteSource::Chunk ByteSource::nextChunk() {
  if (begin_ == end_) {
    begin_ = end_ = 0;
    end_ = file_.readSome(buffer_.data(), buffer_.size());
  }
  const Chunk chunk{buffer_.data() + begin_, end_ - begin_};
  begin_ = end_;
  return chunk;
}

bool ByteSource::skip(size_t size) {
  while (size > 0) {
    if (begin_ == end_) {
      begin_ = end_ = 0;
      end_ = file_.readSome(buffer_.data(), buffer_.size());
      if (end_ == 0) return false;
    }
    const size_t n = std::min(size, end_ - begin_);
    begin_ += n;
    size -= n;
  }
  return true;
}

size_t ByteSource::readAt(std::uint64_t offset, void* out, size_t size) {
  auto* to = static_cast<std::uint8_t*>(out);
  size_t done = 0;
  while (done < size) {
    const size_t n = file_.readSomeAt(offset + done, to + done, size - done);
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace libs

namespace {

using libs::ByteSource;

bool startsWith(const std::uint8_t* data, size_t size, const char* magic, size_t length) {
  return size >= length && std::memcmp(data, magic, length) == 0;
}

std::unique_ptr<ImageFrame> openByContent(ByteSource&& source) {
  const std::uint8_t* head = nullptr;
  const size_t n = source.peek(12, &head);
  if (startsWith(head, n, "\xFF\xD8\xFF", 3)) return libs::openJpegFrame(std::move(source));
  if (startsWith(head, n, "\x89PNG\r\n\x1A\n", 8)) return libs::openPngFrame(std::move(source));
  if (startsWith(head, n, "GIF87a", 6) || startsWith(head, n, "GIF89a", 6)) {
    return libs::openGifFrame(std::move(source));
  }
  // Classic and big TIFF, in either byte order.
  if (startsWith(head, n, "II*\0", 4) || startsWith(head, n, "MM\0*", 4) ||
      startsWith(head, n, "II+\0", 4) || startsWith(head, n, "MM\0+", 4)) {
    return libs::openTiffFrame(std::move(source));
  }
  if (startsWith(head, n, "BM", 2)) return libs::openBmpFrame(std::move(source));
  if (startsWith(head, n, "RIFF", 4) && n >= 12 && std::memcmp(head + 8, "WEBP", 4) == 0) {
    return libs::openWebpFrame(std::move(source));
  }
  return nullptr;
}

// The distribution's codec libraries keep no state between files.
class LibraryFactory final : public ImagingFactory {
 public:
  std::unique_ptr<ImageFrame> openFirstFrame(const std::u16string& path) const override {
    try {
      platform::File file = platform::openForReading(path);
      if (!file.isOpen()) return nullptr;
      // A file far larger than any image within the limit could need is
      // refused before a codec reads a byte of it: reading it would only cost
      // time and memory to fail later.
      const std::optional<std::uint64_t> size = file.size();
      if (!size || *size > kMaxImageFileBytes) return nullptr;
      return openByContent(ByteSource(std::move(file)));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
};

}  // namespace

std::unique_ptr<ImagingFactory> createImagingFactory() {
  return std::unique_ptr<ImagingFactory>(new (std::nothrow) LibraryFactory());
}

// The codec libraries used here need no per-thread set-up; the call keeps its
// place so that a failure to set up would still end the run properly.
bool initImagingRuntime() { return true; }

void shutdownImagingRuntime() {}

}  // namespace folio::codecs
