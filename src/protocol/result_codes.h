// The one table of result codes and result names. A code and a name always
// travel together; the same name can carry a different code in each job.
#pragma once

#include <cstdint>

namespace folio::protocol {

struct Result {
  std::int32_t code;
  const char* name;
};

namespace results {
// The job finished.
inline constexpr Result done{0, ""};
// The command line is not one of the two accepted forms.
inline constexpr Result badArguments{10, "BAD_ARGUMENTS"};
// Opening the input PDF.
inline constexpr Result cannotRead{20, "CANNOT_READ"};
inline constexpr Result pdfDamaged{21, "PDF_DAMAGED"};
inline constexpr Result passwordRequired{22, "PASSWORD_REQUIRED"};
inline constexpr Result securityUnsupported{23, "SECURITY_UNSUPPORTED"};
// The work of the PDF job.
inline constexpr Result renderFailed{30, "RENDER_FAILED"};
inline constexpr Result cannotWritePage{31, "CANNOT_WRITE"};
inline constexpr Result diskFullPage{31, "DISK_FULL"};
inline constexpr Result pageTooLarge{32, "PAGE_TOO_LARGE"};
// The work of the images job.
inline constexpr Result imageTooLarge{32, "IMAGE_TOO_LARGE"};
inline constexpr Result imageReadFailed{33, "IMAGE_READ_FAILED"};
inline constexpr Result imageBitmapTooLarge{33, "IMAGE_TOO_LARGE"};
inline constexpr Result pdfCreateFailed{34, "PDF_CREATE_FAILED"};
inline constexpr Result cannotWritePdf{34, "CANNOT_WRITE"};
inline constexpr Result diskFullPdf{34, "DISK_FULL"};
// A failure outside both jobs.
inline constexpr Result unknown{50, "UNKNOWN"};
}  // namespace results

}  // namespace folio::protocol
