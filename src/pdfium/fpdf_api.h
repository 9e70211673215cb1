// Declarations of the PDFium C interface that Folio calls.
//
// PDFium is installed as a shared library without headers, so this file
// declares exactly the functions, types and constants that we use, with the
// signatures of PDFium's public API. A mismatch here is an ABI bug, so the
// declarations are exercised against the real library by the test suite.
#pragma once

#include <cstddef>

// The C calling convention on every platform, 32-bit Windows included: the
// pdfium.dll we ship is built that way (its functions return with a plain
// ret and leave the arguments to the caller). Declared stdcall, each call
// would leave the caller's stack off by the size of its arguments, which
// shows only where the compiler addresses locals from the stack pointer.
#define FPDF_CALLCONV

extern "C" {

typedef struct fpdf_bitmap_t__* FPDF_BITMAP;
typedef struct fpdf_document_t__* FPDF_DOCUMENT;
typedef struct fpdf_page_t__* FPDF_PAGE;
typedef struct fpdf_pageobject_t__* FPDF_PAGEOBJECT;
typedef struct fpdf_annotation_t__* FPDF_ANNOTATION;

typedef int FPDF_BOOL;
typedef unsigned long FPDF_DWORD;
typedef const char* FPDF_STRING;
typedef const char* FPDF_BYTESTRING;

// The writer record handed to FPDF_SaveAsCopy. PDFium calls WriteBlock with a
// pointer to this record, so callers may embed it as the first member of a
// larger record of their own.
typedef struct FPDF_FILEWRITE_ {
  int version;
  int (*WriteBlock)(struct FPDF_FILEWRITE_* pThis, const void* pData, unsigned long size);
} FPDF_FILEWRITE;

// Random access to a file's bytes for PDFium: m_GetBlock copies size bytes
// from position into pBuf and answers nonzero on success.
typedef struct FPDF_FILEACCESS_ {
  unsigned long m_FileLen;
  int (*m_GetBlock)(void* param, unsigned long position, unsigned char* pBuf, unsigned long size);
  void* m_Param;
} FPDF_FILEACCESS;

// A rectangle in page space: left, top, right, bottom.
typedef struct _FS_RECTF_ {
  float left;
  float top;
  float right;
  float bottom;
} FS_RECTF;

// Load errors reported by FPDF_GetLastError.
#define FPDF_ERR_SUCCESS 0
#define FPDF_ERR_UNKNOWN 1
#define FPDF_ERR_FILE 2
#define FPDF_ERR_FORMAT 3
#define FPDF_ERR_PASSWORD 4
#define FPDF_ERR_SECURITY 5
#define FPDF_ERR_PAGE 6

// Bitmap formats.
#define FPDFBitmap_Unknown 0
#define FPDFBitmap_Gray 1
#define FPDFBitmap_BGR 2
#define FPDFBitmap_BGRx 3
#define FPDFBitmap_BGRA 4

// Render flags.
#define FPDF_ANNOT 0x01
#define FPDF_RENDER_LIMITEDIMAGECACHE 0x200

// Save flags.
#define FPDF_INCREMENTAL 1
#define FPDF_NO_INCREMENTAL 2

// Annotation subtypes.
#define FPDF_ANNOT_STAMP 13

// Flattening: the page as displayed, and the outcome that it was done.
#define FLAT_NORMALDISPLAY 0
#define FLATTEN_SUCCESS 1

// Path fill modes.
#define FPDF_FILLMODE_NONE 0
#define FPDF_FILLMODE_ALTERNATE 1
#define FPDF_FILLMODE_WINDING 2

// Library lifetime.
void FPDF_CALLCONV FPDF_InitLibrary();
void FPDF_CALLCONV FPDF_DestroyLibrary();
unsigned long FPDF_CALLCONV FPDF_GetLastError();

// Documents.
FPDF_DOCUMENT FPDF_CALLCONV FPDF_LoadDocument(FPDF_STRING file_path, FPDF_BYTESTRING password);
FPDF_DOCUMENT FPDF_CALLCONV FPDF_LoadMemDocument64(const void* data_buf, size_t size,
                                                   FPDF_BYTESTRING password);
FPDF_DOCUMENT FPDF_CALLCONV FPDF_CreateNewDocument();
void FPDF_CALLCONV FPDF_CloseDocument(FPDF_DOCUMENT document);
int FPDF_CALLCONV FPDF_GetPageCount(FPDF_DOCUMENT document);
FPDF_BOOL FPDF_CALLCONV FPDF_SaveAsCopy(FPDF_DOCUMENT document, FPDF_FILEWRITE* pFileWrite,
                                        FPDF_DWORD flags);
FPDF_BOOL FPDF_CALLCONV FPDF_ImportPagesByIndex(FPDF_DOCUMENT dest_doc, FPDF_DOCUMENT src_doc,
                                                const int* page_indices, unsigned long length,
                                                int index);

// Pages.
FPDF_PAGE FPDF_CALLCONV FPDF_LoadPage(FPDF_DOCUMENT document, int page_index);
void FPDF_CALLCONV FPDF_ClosePage(FPDF_PAGE page);
float FPDF_CALLCONV FPDF_GetPageWidthF(FPDF_PAGE page);
float FPDF_CALLCONV FPDF_GetPageHeightF(FPDF_PAGE page);
int FPDF_CALLCONV FPDFPage_GetRotation(FPDF_PAGE page);
void FPDF_CALLCONV FPDFPage_SetRotation(FPDF_PAGE page, int rotate);
FPDF_PAGE FPDF_CALLCONV FPDFPage_New(FPDF_DOCUMENT document, int page_index, double width,
                                     double height);
void FPDF_CALLCONV FPDFPage_InsertObject(FPDF_PAGE page, FPDF_PAGEOBJECT page_object);
FPDF_BOOL FPDF_CALLCONV FPDFPage_GenerateContent(FPDF_PAGE page);
void FPDF_CALLCONV FPDFPage_SetMediaBox(FPDF_PAGE page, float left, float bottom, float right,
                                        float top);
void FPDF_CALLCONV FPDFPage_SetCropBox(FPDF_PAGE page, float left, float bottom, float right,
                                       float top);
int FPDF_CALLCONV FPDFPage_Flatten(FPDF_PAGE page, int flag);

// Annotations.
FPDF_ANNOTATION FPDF_CALLCONV FPDFPage_CreateAnnot(FPDF_PAGE page, int subtype);
void FPDF_CALLCONV FPDFPage_CloseAnnot(FPDF_ANNOTATION annot);
FPDF_BOOL FPDF_CALLCONV FPDFAnnot_SetRect(FPDF_ANNOTATION annot, const FS_RECTF* rect);
FPDF_BOOL FPDF_CALLCONV FPDFAnnot_AppendObject(FPDF_ANNOTATION annot, FPDF_PAGEOBJECT obj);

// Bitmaps and rendering.
FPDF_BITMAP FPDF_CALLCONV FPDFBitmap_CreateEx(int width, int height, int format, void* first_scan,
                                              int stride);
FPDF_BOOL FPDF_CALLCONV FPDFBitmap_FillRect(FPDF_BITMAP bitmap, int left, int top, int width,
                                            int height, FPDF_DWORD color);
void* FPDF_CALLCONV FPDFBitmap_GetBuffer(FPDF_BITMAP bitmap);
int FPDF_CALLCONV FPDFBitmap_GetStride(FPDF_BITMAP bitmap);
void FPDF_CALLCONV FPDFBitmap_Destroy(FPDF_BITMAP bitmap);
void FPDF_CALLCONV FPDF_RenderPageBitmap(FPDF_BITMAP bitmap, FPDF_PAGE page, int start_x,
                                         int start_y, int size_x, int size_y, int rotate,
                                         int flags);

// Page objects.
FPDF_PAGEOBJECT FPDF_CALLCONV FPDFPageObj_NewImageObj(FPDF_DOCUMENT document);
FPDF_PAGEOBJECT FPDF_CALLCONV FPDFPageObj_CreateNewRect(float x, float y, float w, float h);
void FPDF_CALLCONV FPDFPageObj_Destroy(FPDF_PAGEOBJECT page_object);
FPDF_BOOL FPDF_CALLCONV FPDFPageObj_SetFillColor(FPDF_PAGEOBJECT page_object, unsigned int R,
                                                 unsigned int G, unsigned int B, unsigned int A);
FPDF_BOOL FPDF_CALLCONV FPDFPath_SetDrawMode(FPDF_PAGEOBJECT path, int fillmode, FPDF_BOOL stroke);
FPDF_BOOL FPDF_CALLCONV FPDFImageObj_SetBitmap(FPDF_PAGE* pages, int count,
                                               FPDF_PAGEOBJECT image_object, FPDF_BITMAP bitmap);
FPDF_BOOL FPDF_CALLCONV FPDFImageObj_LoadJpegFile(FPDF_PAGE* pages, int count,
                                                  FPDF_PAGEOBJECT image_object,
                                                  FPDF_FILEACCESS* file_access);
FPDF_BOOL FPDF_CALLCONV FPDFImageObj_GetImagePixelSize(FPDF_PAGEOBJECT image_object,
                                                       unsigned int* width, unsigned int* height);
FPDF_BOOL FPDF_CALLCONV FPDFImageObj_SetMatrix(FPDF_PAGEOBJECT image_object, double a, double b,
                                               double c, double d, double e, double f);

}  // extern "C"
