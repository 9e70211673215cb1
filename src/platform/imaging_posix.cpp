#include "platform/imaging.h"

namespace folio::platform {

std::unique_ptr<ImagingFactory> createImagingFactory() { return std::make_unique<ImagingFactory>(); }

}  // namespace folio::platform
