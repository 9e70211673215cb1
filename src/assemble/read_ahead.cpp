#include "assemble/read_ahead.h"

#include <cmath>
#include <new>
#include <system_error>
#include <utility>

#include "assemble/fingerprint.h"
#include "assemble/page_document.h"
#include "platform/processors.h"

namespace folio::assemble {
namespace {

namespace results = protocol::results;

// Pages larger than 200 inches on a side are refused.
constexpr double kMaxPageSide = 14400.0;

bool pageSideAcceptable(double side) {
  return std::isfinite(side) && side > 0.0 && side <= kMaxPageSide;
}

PreparedImage failed(protocol::Result result) {
  PreparedImage image;
  image.failure = result;
  return image;
}

// A whole JPEG stream: from its start marker to its end marker. PDFium
// takes any bytes, an empty stream included, and the page would be blank.
bool wholeJpeg(const std::vector<std::uint8_t>& jpeg) {
  return jpeg.size() >= 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8 && jpeg[jpeg.size() - 2] == 0xFF &&
         jpeg.back() == 0xD9;
}

}  // namespace

Reservation::Reservation(Reservation&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

Reservation& Reservation::operator=(Reservation&& other) noexcept {
  if (this != &other) {
    release();
    owner_ = std::exchange(other.owner_, nullptr);
    bytes_ = std::exchange(other.bytes_, 0);
  }
  return *this;
}

void Reservation::release() {
  if (owner_ != nullptr) owner_->giveBack(bytes_);
  owner_ = nullptr;
}

std::uint64_t preparingCost(const UprightFrame& upright) {
  return std::uint64_t{upright.width} * upright.height * 4 +
         strideForWidth(upright.width) * upright.height;
}

PreparedImage prepareImage(const codecs::ImagingFactory& factory, const std::u16string& path,
                           const Reserve& reserve) {
  std::unique_ptr<codecs::ImageFrame> frame = factory.openFirstFrame(path);
  if (!frame) return failed(results::imageReadFailed);
  PreparedImage image;
  const std::optional<UprightFrame> upright = uprightFrameOf(frame->info());
  if (!upright) return failed(results::imageReadFailed);
  image.upright = *upright;
  image.pageWidth = static_cast<double>(upright->width) * 72.0 / upright->dpiX;
  image.pageHeight = static_cast<double>(upright->height) * 72.0 / upright->dpiY;
  if (!pageSideAcceptable(image.pageWidth) || !pageSideAcceptable(image.pageHeight)) {
    return failed(results::imageTooLarge);
  }
  if (reserve) {
    std::optional<Reservation> reservation = reserve(preparingCost(*upright));
    if (!reservation) return failed(results::imageReadFailed);
    image.reservation = std::move(*reservation);
  }

  // A JPEG that every PDF reader decodes as we do keeps its own bytes: the
  // page holds the file rather than its pixels (a tenth of the size for
  // camera photos) and is never decoded here, and its orientation becomes
  // the matrix. Only its length and fingerprint are kept: the document
  // reads the file itself when it is saved.
  if (frame->info().placeableJpeg) {
    std::vector<std::uint8_t> bytes;
    switch (frame->readStoredJpeg(&bytes)) {
      case codecs::StoredJpeg::refused:
        return failed(results::imageReadFailed);
      case codecs::StoredJpeg::placeable:
        if (wholeJpeg(bytes)) {
          Fingerprint fingerprint;
          fingerprint.add(bytes.data(), bytes.size());
          image.jpeg = PlacedJpeg{bytes.size(), fingerprint.value(), frame->info().width,
                                  frame->info().height};
          return image;
        }
        break;
      case codecs::StoredJpeg::decode:
        break;
    }
    // The frame has been read through; the decode starts from the file again.
    frame = factory.openFirstFrame(path);
    if (!frame) return failed(results::imageReadFailed);
  }
  DecodedImage decoded;
  if (!decodeFrame(frame.get(), &decoded)) return failed(results::imageReadFailed);
  if (!writePageDocument(decoded, image.pageWidth, image.pageHeight, &image.pageDocument)) {
    return failed(results::pdfCreateFailed);
  }
  return image;
}

ReadAhead::ReadAhead(const std::vector<std::u16string>& images,
                     const codecs::ImagingFactory& factory)
    : images_(images), factory_(factory) {
  const unsigned processors = platform::usableProcessors();
  if (processors < 2 || images.size() < 2) return;
  try {
    ready_.resize(images.size());
    // Room for every thread first: a thread left running when the vector
    // could not grow would end the process.
    threads_.reserve(processors);
  } catch (const std::bad_alloc&) {
    return;  // read one at a time
  }
  ahead_ = processors - 1;
  // One thread per processor: while the job's thread waits for an image, the
  // next ones are read on every processor; while it builds a page, on all
  // but its own.
  for (unsigned i = 0; i < processors; ++i) {
    try {
      threads_.emplace_back(&ReadAhead::run, this);
    } catch (const std::system_error&) {
      break;  // the threads there are do the work; with none, the job's thread does
    }
  }
}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  // An image being read is finished first; nobody takes it.
  for (std::thread& thread : threads_) thread.join();
}

PreparedImage ReadAhead::take(std::size_t index) {
  std::unique_lock lock(mutex_);
  wanted_ = index;
  changed_.notify_all();
  for (;;) {
    if (index < ready_.size() && ready_[index]) {
      Ready ready = std::move(*ready_[index]);
      ready_[index].reset();
      if (ready.thrown) std::rethrow_exception(ready.thrown);
      return std::move(ready.image);
    }
    if (next_ == index) {
      // Nobody has started it (one processor, or no thread could start or
      // set up its codecs): it is made ready here.
      ++next_;
      lock.unlock();
      // Its memory counts too, though it never waits: the threads' images
      // must fit beside it.
      return prepareImage(factory_, images_[index],
                          [this, index](std::uint64_t bytes) { return reserveFor(index, bytes); });
    }
    changed_.wait(lock);
  }
}

std::optional<Reservation> ReadAhead::reserveFor(std::size_t index, std::uint64_t bytes) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock,
                [&] { return stopping_ || index == wanted_ || reserved_ + bytes <= kBudget; });
  if (stopping_) return std::nullopt;
  reserved_ += bytes;
  return Reservation(this, bytes);
}

void ReadAhead::giveBack(std::uint64_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    reserved_ -= bytes;
  }
  changed_.notify_all();
}

void ReadAhead::run() {
  // The platform's codecs may need their runtime on every thread that uses
  // them; a thread without it reads nothing, and the job's thread reads what
  // it leaves.
  if (!codecs::initImagingRuntime()) return;
  for (;;) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] {
      return stopping_ || (next_ < images_.size() && next_ <= wanted_ + ahead_);
    });
    if (stopping_) break;
    const std::size_t index = next_++;
    lock.unlock();

    Ready ready;
    try {
      ready.image = prepareImage(factory_, images_[index], [this, index](std::uint64_t bytes) {
        return reserveFor(index, bytes);
      });
    } catch (...) {
      ready.thrown = std::current_exception();
    }
    lock.lock();
    ready_[index] = std::move(ready);
    lock.unlock();
    changed_.notify_all();
  }
  codecs::shutdownImagingRuntime();
}

}  // namespace folio::assemble
