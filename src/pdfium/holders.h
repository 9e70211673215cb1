// One owning holder per PDFium handle, so that no way out of a driver can
// forget a close: every handle is given back when its holder goes out of
// scope, in the reverse order of acquisition.
#pragma once

#include <memory>
#include <type_traits>

#include "pdfium/fpdf_api.h"

namespace folio::pdfium {

struct DocumentDeleter {
  void operator()(FPDF_DOCUMENT d) const { FPDF_CloseDocument(d); }
};
struct PageDeleter {
  void operator()(FPDF_PAGE p) const { FPDF_ClosePage(p); }
};
struct BitmapDeleter {
  void operator()(FPDF_BITMAP b) const { FPDFBitmap_Destroy(b); }
};
struct AnnotationDeleter {
  void operator()(FPDF_ANNOTATION a) const { FPDFPage_CloseAnnot(a); }
};
struct PageObjectDeleter {
  void operator()(FPDF_PAGEOBJECT o) const { FPDFPageObj_Destroy(o); }
};

using ScopedDocument = std::unique_ptr<std::remove_pointer_t<FPDF_DOCUMENT>, DocumentDeleter>;
using ScopedPage = std::unique_ptr<std::remove_pointer_t<FPDF_PAGE>, PageDeleter>;
using ScopedBitmap = std::unique_ptr<std::remove_pointer_t<FPDF_BITMAP>, BitmapDeleter>;
using ScopedAnnotation = std::unique_ptr<std::remove_pointer_t<FPDF_ANNOTATION>, AnnotationDeleter>;
// Released (not destroyed) once a page takes the object over.
using ScopedPageObject = std::unique_ptr<std::remove_pointer_t<FPDF_PAGEOBJECT>, PageObjectDeleter>;

// The library is initialised for one job and destroyed when the job ends,
// whichever way it ends.
class LibraryScope {
 public:
  LibraryScope() { FPDF_InitLibrary(); }
  ~LibraryScope() { FPDF_DestroyLibrary(); }
  LibraryScope(const LibraryScope&) = delete;
  LibraryScope& operator=(const LibraryScope&) = delete;
};

}  // namespace folio::pdfium
