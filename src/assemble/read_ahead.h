// The images job's read-ahead: while the job's thread hands one image to
// PDFium, threads of their own open, check and decode the next ones, so
// that every processor has work. PDFium is never called here.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "assemble/decode_image.h"
#include "codecs/imaging.h"
#include "protocol/result_codes.h"

namespace folio::assemble {

class ReadAhead;

// A JPEG whose bytes go into the document as they are: the file's bytes from
// its start to the end of the image, length long, with that fingerprint.
// Its size as stored, before any turn, is what PDFium must read from it.
struct PlacedJpeg {
  std::uint64_t length = 0;
  std::uint64_t fingerprint = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// A share of the read-ahead's memory, given back when its image goes.
class Reservation {
 public:
  Reservation() = default;
  Reservation(ReadAhead* owner, std::uint64_t bytes) : owner_(owner), bytes_(bytes) {}
  Reservation(Reservation&& other) noexcept;
  Reservation& operator=(Reservation&& other) noexcept;
  ~Reservation() { release(); }

 private:
  void release();
  ReadAhead* owner_ = nullptr;
  std::uint64_t bytes_ = 0;
};

// What the job's thread needs to build one image's page.
struct PreparedImage {
  // The image's own failure, which ends the job; nothing else is set then.
  std::optional<protocol::Result> failure;
  double pageWidth = 0.0;  // points
  double pageHeight = 0.0;
  UprightFrame upright;
  std::optional<PlacedJpeg> jpeg;  // a JPEG to place as it is stored, or:
  // the image decoded, turned, flattened and compressed into a page of its own
  std::vector<std::uint8_t> pageDocument;
  Reservation reservation;
};

// Called with the memory an image may take once its header tells it, before
// anything large is allocated; none when the image is no longer wanted.
using Reserve = std::function<std::optional<Reservation>(std::uint64_t bytes)>;

// Makes the image at path ready on the calling thread; reserve may be empty.
PreparedImage prepareImage(const codecs::ImagingFactory& factory, const std::u16string& path,
                           const Reserve& reserve);

// The memory that preparing an image of upright's size may take: its pixels
// as decoded (4 bytes each) and as flattened (3 bytes each, rows padded);
// its compressed page, which the flattened pixels outweigh, takes their place.
std::uint64_t preparingCost(const UprightFrame& upright);

// Images are taken in list order. With n usable processors, at most n - 1
// images past the one the job's thread holds are read ahead, and the memory
// of those being read stays within a budget, so the job holds at most one
// image more per extra processor. With one processor, or where no thread can
// be started, every image is made ready on the job's thread when it is
// taken, one at a time.
class ReadAhead {
 public:
  // The decoding memory that images read ahead may take together; the image
  // the job waits for is read whatever it costs. A 32-bit process has 2 GiB
  // of addresses in all, in which the largest image takes 448 MiB to prepare
  // and its page more on its way into the document; two of them read side
  // by side did not fit there, so no image that large is read ahead.
  static constexpr std::uint64_t kBudget = std::uint64_t{sizeof(void*) < 8 ? 128u : 512u} << 20;

  ReadAhead(const std::vector<std::u16string>& images, const codecs::ImagingFactory& factory);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Image index, ready: indexes must come in order, each once, and the image
  // taken before must be gone (its memory counts until it is). What its
  // preparation threw is thrown here.
  PreparedImage take(std::size_t index);

 private:
  friend class Reservation;
  struct Ready {
    PreparedImage image;
    std::exception_ptr thrown;
  };

  void run();
  // Waits until bytes fit the budget or index is the one the job waits for,
  // and takes them; none when the read-ahead stops first.
  std::optional<Reservation> reserveFor(std::size_t index, std::uint64_t bytes);
  void giveBack(std::uint64_t bytes);

  const std::vector<std::u16string>& images_;
  const codecs::ImagingFactory& factory_;
  std::size_t ahead_ = 0;  // images that may be read past the one the job holds

  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;    // the first image nobody has started
  std::size_t wanted_ = 0;  // the image the job's thread holds or waits for
  std::uint64_t reserved_ = 0;
  bool stopping_ = false;
  // One place per image, made before any thread starts, so that a thread
  // hands its image over without allocating.
  std::vector<std::optional<Ready>> ready_;
  std::vector<std::thread> threads_;  // last: they start once everything above exists
};

}  // namespace folio::assemble
