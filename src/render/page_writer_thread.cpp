#include "render/page_writer_thread.h"

#include <system_error>
#include <utility>

#include "codecs/imaging.h"
#include "render/png_writer.h"

namespace folio::render {

PageWriterThread::PageWriterThread() {
  if (std::thread::hardware_concurrency() < 2) return;
  try {
    thread_ = std::thread(&PageWriterThread::run, this);
  } catch (const std::system_error&) {
    // No second thread: pages are written on the caller's.
  }
}

PageWriterThread::~PageWriterThread() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  // A page handed over is finished first: a file is never left half
  // written. Its outcome, never collected, goes with this object, and the
  // page loses its name again: it was never reported.
  thread_.join();
}

void PageWriterThread::start(PageToWrite page) {
  if (!overlaps()) {
    write(page);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    page_ = std::move(page);
  }
  changed_.notify_all();
}

WrittenPage PageWriterThread::collect() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return outcome_.has_value(); });
  WrittenPage outcome = std::move(*outcome_);
  outcome_.reset();
  const std::exception_ptr thrown = std::exchange(thrown_, nullptr);
  lock.unlock();
  if (thrown) std::rethrow_exception(thrown);
  return outcome;
}

void PageWriterThread::write(const PageToWrite& page) {
  WrittenPage outcome;
  std::exception_ptr thrown;
  try {
    outcome.status =
        writePngFile(page.path, page.pixels, page.width, page.height, page.stride, outcome.file);
  } catch (...) {
    thrown = std::current_exception();
  }
  {
    const std::lock_guard lock(mutex_);
    outcome_ = std::move(outcome);
    thrown_ = thrown;
  }
  changed_.notify_all();
}

void PageWriterThread::run() {
  // The platform's PNG encoder may need its runtime on every thread that
  // uses it; without it, each page fails as a write that cannot be done.
  const bool runtime = codecs::initImagingRuntime();
  for (;;) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return page_.has_value() || stopping_; });
    if (!page_) break;
    const PageToWrite page = std::move(*page_);
    page_.reset();
    lock.unlock();
    if (runtime) {
      write(page);
    } else {
      const std::lock_guard relock(mutex_);
      outcome_ = WrittenPage{};
      changed_.notify_all();
    }
  }
  if (runtime) codecs::shutdownImagingRuntime();
}

}  // namespace folio::render
