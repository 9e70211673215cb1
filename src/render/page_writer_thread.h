// Page files written on a thread of their own, one page at a time, so that
// PDFium renders the next page on the job's thread meanwhile.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/new_file.h"

namespace folio::render {

// How writing a page went. On ok, file holds the page under its name; it
// keeps the name only once kept, so a page that is never reported (the job
// ended before its line was written) loses it again.
struct WrittenPage {
  platform::IoStatus status = platform::IoStatus::other;
  platform::NewFile file;
};

// A rendered page and where it goes. The pixels are borrowed: they must stay
// untouched until the page is collected.
struct PageToWrite {
  std::u16string path;
  const std::uint8_t* pixels = nullptr;
  std::uint32_t width = 0, height = 0, stride = 0;
};

// Holds at most one page: the one being written. The job's thread hands a
// page over with start() and waits for its outcome with collect() before it
// hands over the next, so no more than two pages' pixels ever exist (that one
// and the one being rendered). PDFium is never called here.
//
// On a machine with one processor, or where no thread can be started, start()
// writes the page on the caller's thread, as if there were no second thread.
class PageWriterThread {
 public:
  PageWriterThread();
  ~PageWriterThread();
  PageWriterThread(const PageWriterThread&) = delete;
  PageWriterThread& operator=(const PageWriterThread&) = delete;

  // Whether a page is written while the caller goes on.
  bool overlaps() const { return thread_.joinable(); }

  // Starts writing page (through writePngFile). The page handed over before
  // must have been collected.
  void start(PageToWrite page);

  // Waits until the page handed over is written (its file named and on the
  // disk) or has failed, and answers how it went. What the write threw is
  // thrown here, on the caller's thread.
  WrittenPage collect();

 private:
  void run();
  void write(const PageToWrite& page);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<PageToWrite> page_;  // handed over, not yet taken
  // Written, not yet collected; dropped, it takes the page's name back.
  std::optional<WrittenPage> outcome_;
  std::exception_ptr thrown_;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace folio::render
