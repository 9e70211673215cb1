// The image codecs: what the images job needs to read any image file it is
// given. Decoders are chosen by the file's content, never by its name.
#pragma once

#include <memory>

namespace folio::platform {

// The codecs' shared state for one job, created once and handed to every
// decode of that job.
class ImagingFactory {
 public:
  virtual ~ImagingFactory() = default;
};

// A new factory, or null when the codecs cannot be set up.
std::unique_ptr<ImagingFactory> createImagingFactory();

}  // namespace folio::platform
