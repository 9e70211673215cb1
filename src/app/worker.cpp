#include "app/worker.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <new>

#include "app/input_checks.h"
#include "assemble/convert_images_to_pdf.h"
#include "codecs/imaging.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/new_file.h"
#include "protocol/image_list.h"
#include "protocol/job_result.h"
#include "protocol/status_lines.h"
#include "render/convert_pdf_to_images.h"

namespace folio::app {
namespace {

using protocol::JobResult;
namespace results = protocol::results;

// The final line the run owes its caller should a library abort the process
// (PDFium does when its memory runs out, with a trap instruction that the
// system reports as SIGTRAP or SIGILL; others call abort): written whole by
// the handler, which then ends the process with its code. Null once the run's own final
// line is on its way. A page still being written has no name and goes with
// the process; one named a moment before, while its report waits for the
// job's thread, stays unreported.
std::atomic<const std::string*> lineOwedOnAbort{nullptr};

void endWithOwedLine(int signal) {
  // A document or page being written goes, as a failure leaves nothing.
  platform::removeUnfinishedNewFiles();
  const std::string* line = lineOwedOnAbort.load();
  if (line == nullptr) {
    // The signal then ends the process as it would have; returning from a
    // trap would run the trapping instruction again, without end.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  protocol::writeStdout(*line);  // allocates nothing: fit for a signal handler
  std::_Exit(results::unknown.code);
}

void oweFinalLineOnAbort() {
  static const std::string line = protocol::makeErrorLine(results::unknown.name);
  lineOwedOnAbort = &line;
  std::signal(SIGABRT, endWithOwedLine);
  std::signal(SIGILL, endWithOwedLine);
#ifdef SIGTRAP  // a POSIX signal; Windows reports a trap as an exception
  std::signal(SIGTRAP, endWithOwedLine);
#endif
}

int fail(const protocol::Result& result) {
  lineOwedOnAbort = nullptr;
  return protocol::reportError(result);
}

// Keeps the imaging runtime up for exactly the length of the job, and takes it
// down even when an exception leaves the driver.
class ImagingRuntimeScope {
 public:
  ImagingRuntimeScope() : ready_(codecs::initImagingRuntime()) {}
  ~ImagingRuntimeScope() {
    if (ready_) codecs::shutdownImagingRuntime();
  }
  ImagingRuntimeScope(const ImagingRuntimeScope&) = delete;
  ImagingRuntimeScope& operator=(const ImagingRuntimeScope&) = delete;
  bool ready() const { return ready_; }

 private:
  bool ready_;
};

enum class Job { pdfToImages, imagesToPdf };

JobResult runJob(Job job, const std::u16string& input, const std::u16string& output,
                 const std::vector<std::u16string>& images) {
  const protocol::ProgressCallback progress = statusLineProgress;
  if (job == Job::imagesToPdf) return assemble::convertImagesToPdf(images, output, progress);
  return render::convertPdfToImages(input, output, progress);
}

}  // namespace

int runWorker(const std::vector<std::u16string>& arguments) {
  platform::prepareProcess();
  oweFinalLineOnAbort();

  if (arguments.size() != 5) return fail(results::badArguments);
  Job job;
  if (arguments[1] == u"--input") {
    job = Job::pdfToImages;
  } else if (arguments[1] == u"--images") {
    job = Job::imagesToPdf;
  } else {
    return fail(results::badArguments);
  }
  if (arguments[3] != u"--output") return fail(results::badArguments);

  const std::u16string input = arguments[2];
  const std::u16string output = arguments[4];
  std::vector<std::u16string> images;

  if (job == Job::imagesToPdf) {
    bool listRead = false;
    try {
      listRead = protocol::readImageList(input, images);
    } catch (const std::bad_alloc&) {
      // A list too large for this machine's memory is a list we cannot read.
      listRead = false;
    }
    if (!listRead) return fail(results::imageReadFailed);
  } else {
    if (!isPdfInputFile(input)) return fail(results::cannotRead);
    if (platform::queryPathKind(output) != platform::PathKind::directory) {
      return fail(results::cannotWritePage);
    }
  }

  JobResult result;
  {
    ImagingRuntimeScope runtime;
    if (!runtime.ready()) return fail(results::unknown);
    try {
      result = runJob(job, input, output, images);
    } catch (...) {
      // Every run must end with exactly one final line, even one that
      // something unforeseen brought down.
      result = protocol::makeErrorResult(results::unknown);
    }
  }

  if (!result.succeeded()) return fail(result.result);
  lineOwedOnAbort = nullptr;
  protocol::writeStdout(protocol::makeDoneLine(result.count));
  return 0;
}

}  // namespace folio::app
