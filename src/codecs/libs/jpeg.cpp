// JPEG through libjpeg-turbo, which decodes straight into blue, green, red,
// alpha rows. libjpeg reports a fatal error by jumping out of the library;
// every jump lands in one of the small functions below that hold nothing but
// plain values, so no C++ object is ever skipped.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <libexif/exif-data.h>

#include "codecs/jpeg_forms.h"
#include "codecs/libs/codecs.h"

namespace folio::codecs::libs {

std::optional<std::uint32_t> exifOrientation(const std::uint8_t* data, size_t size) {
  ExifData* exif = exif_data_new();
  if (exif == nullptr) return std::nullopt;
  // As loaded, with every option libexif turns on by default cleared: its
  // repairs would turn an Orientation of another type into a SHORT and cut a
  // LONG down to 16 bits, and the tag is taken only as the file stores it.
  for (unsigned option = 1; option <= 1u << 15; option <<= 1) {
    exif_data_unset_option(exif, static_cast<ExifDataOption>(option));
  }
  exif_data_load_data(exif, data, static_cast<unsigned int>(size));
  std::optional<std::uint32_t> value;
  const ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
  if (entry != nullptr && entry->components == 1 && entry->data != nullptr) {
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    if (entry->format == EXIF_FORMAT_SHORT && entry->size >= 2) {
      value = exif_get_short(entry->data, order);
    } else if (entry->format == EXIF_FORMAT_LONG && entry->size >= 4) {
      value = exif_get_long(entry->data, order);
    }
  }
  exif_data_unref(exif);
  return value;
}

namespace {

constexpr char kExifHeader[] = "Exif\0\0";
constexpr size_t kExifHeaderSize = 6;

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr) {}

// Called by libjpeg once per row of blocks, in every pass over the data.
void onProgress(j_common_ptr common) {
  auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
  if (cinfo->input_scan_number > kMaxJpegScans) ERREXIT(cinfo, JERR_BAD_PROGRESSION);
}

// The markers before the first scan may hold a colour profile of up to 255
// segments of 64 KiB, about 16 MiB, besides EXIF and XMP blocks. A header
// still going after twice that is not a header: libjpeg would pass over
// bytes that are no marker to the end of the file, however long it is.
constexpr std::uint64_t kMaxHeaderBytes = 32 << 20;

// What is kept of a header for placing the file as stored. Camera files carry
// a few blocks of 64 KiB at most (EXIF, XMP) and a colour profile of a few
// KiB; a file whose header runs longer is decoded instead, so that a header
// that turns out not to be one is never held whole.
constexpr size_t kMaxRecordedHeaderBytes = 4 << 20;

// What the header's segments say for placing the file and turning its image.
struct HeaderSegments {
  std::vector<std::uint8_t> exif;     // the first EXIF block, whole
  std::vector<std::uint8_t> segment;  // the one being read: here, so that no jump skips it
  ColourMarkers colours;
};

// A byte of a segment. The source never suspends: it fails instead.
unsigned nextByte(j_decompress_ptr cinfo) {
  jpeg_source_mgr* src = cinfo->src;
  if (src->bytes_in_buffer == 0) (*src->fill_input_buffer)(cinfo);
  --src->bytes_in_buffer;
  return *src->next_input_byte++;
}

// APP0, APP1 and APP14, read in place of libjpeg's own reader: the JFIF and
// Adobe fields are set as libjpeg sets them, and noted for the colour rule;
// the first EXIF block is kept. No segment is saved in a list, so a header of
// millions of segments costs what its bytes cost: libjpeg appends each saved
// segment by walking the list, and 8 million empty ones took minutes.
boolean readAppSegment(j_decompress_ptr cinfo) {
  auto& seen = *static_cast<HeaderSegments*>(cinfo->client_data);
  long length = static_cast<long>(nextByte(cinfo) << 8);
  length += static_cast<long>(nextByte(cinfo)) - 2;
  if (length < 0) length = 0;  // as libjpeg takes a length below 2
  // The head of every segment; the whole of the first EXIF block.
  std::vector<std::uint8_t>& head = seen.segment;
  head.clear();
  const auto readTo = [cinfo, &head](long size) {
    bool allocated = true;
    try {
      head.reserve(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      allocated = false;
    }
    if (!allocated) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    while (static_cast<long>(head.size()) < size) head.push_back(nextByte(cinfo));
  };
  const auto says = [&head](const char* text, size_t size) {
    return head.size() >= size && std::memcmp(head.data(), text, size) == 0;
  };
  readTo(std::min<long>(length, kJfifSegmentBytes));
  const bool exif = cinfo->unread_marker == JPEG_APP0 + 1 && seen.exif.empty() &&
                    says(kExifHeader, kExifHeaderSize);
  if (exif) readTo(length);
  (*cinfo->src->skip_input_data)(cinfo, length - static_cast<long>(head.size()));
  if (exif) {
    seen.exif.swap(head);
  } else if (cinfo->unread_marker == JPEG_APP0 && says("JFIF", 5)) {
    seen.colours.jfif = true;
    seen.colours.shortSegment |= length < kJfifSegmentBytes;
    if (length >= kJfifSegmentBytes) {
      cinfo->saw_JFIF_marker = TRUE;
      cinfo->JFIF_major_version = head[5];
      cinfo->JFIF_minor_version = head[6];
      cinfo->density_unit = head[7];
      cinfo->X_density = static_cast<UINT16>(head[8] << 8 | head[9]);
      cinfo->Y_density = static_cast<UINT16>(head[10] << 8 | head[11]);
      if (head[5] != 1) WARNMS2(cinfo, JWRN_JFIF_MAJOR, head[5], head[6]);
    }
  } else if (cinfo->unread_marker == JPEG_APP0 + 14 && says("Adobe", 5)) {
    if (length < kAdobeSegmentBytes) {
      seen.colours.shortSegment = true;
    } else {
      const auto& earlier = seen.colours.adobeTransform;
      seen.colours.conflicting |= earlier && *earlier != head[11];
      seen.colours.adobeTransform = head[11];
      cinfo->saw_Adobe_marker = TRUE;
      cinfo->Adobe_transform = head[11];
    }
  }
  return TRUE;
}

struct SourceManager {
  jpeg_source_mgr pub;
  ByteSource* bytes;
  // While set, every byte handed to libjpeg is copied here too, so that the
  // data checked is the data placed; dropped once it would pass the limit.
  std::vector<std::uint8_t>* record;
  size_t recordLimit;
  bool overLimit;
  std::uint64_t budget;  // bytes that may still be taken from the file
};

void initSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
  const ByteSource::Chunk chunk = source->bytes->nextChunk();
  // A file that ends early is damaged: the decode fails rather than
  // padding the picture with grey.
  if (chunk.size == 0) ERREXIT(cinfo, JERR_INPUT_EOF);
  if (chunk.size > source->budget) ERREXIT(cinfo, JERR_BAD_LENGTH);
  source->budget -= chunk.size;
  if (source->record != nullptr) {
    if (chunk.size > source->recordLimit - source->record->size()) {
      source->overLimit = true;
      source->record = nullptr;
    } else {
      // A failed allocation leaves the data to the decode path.
      try {
        source->record->insert(source->record->end(), chunk.data, chunk.data + chunk.size);
      } catch (const std::bad_alloc&) {
        source->overLimit = true;
        source->record = nullptr;
      }
    }
  }
  source->pub.next_input_byte = chunk.data;
  source->pub.bytes_in_buffer = chunk.size;
  return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
  auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
  if (count <= 0) return;
  auto n = static_cast<size_t>(count);
  while (n > source->pub.bytes_in_buffer) {
    n -= source->pub.bytes_in_buffer;
    source->pub.bytes_in_buffer = 0;
    if (source->record == nullptr) {
      if (n > source->budget || !source->bytes->skip(n)) ERREXIT(cinfo, JERR_INPUT_EOF);
      source->budget -= n;
      return;
    }
    // Skipped segments are part of the file that is placed.
    fillInputBuffer(cinfo);
  }
  source->pub.next_input_byte += n;
  source->pub.bytes_in_buffer -= n;
}

void termSource(j_decompress_ptr) {}

std::uint8_t mulDiv255(unsigned a, unsigned b) {
  return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// Four-colour pixels to blue, green, red, alpha in place, without a colour
// profile. Adobe's writers store the inks inverted (255 is no ink).
void cmykToBgra(std::uint8_t* pixels, size_t count, bool inverted) {
  for (size_t i = 0; i < count; ++i, pixels += 4) {
    unsigned c = pixels[0], m = pixels[1], y = pixels[2], k = pixels[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    pixels[0] = mulDiv255(y, k);
    pixels[1] = mulDiv255(m, k);
    pixels[2] = mulDiv255(c, k);
    pixels[3] = 255;
  }
}

class JpegFrame final : public CodecFrame {
 public:
  using CodecFrame::CodecFrame;
  ~JpegFrame() override {
    if (created_) jpeg_destroy_decompress(&cinfo_);
  }
  JpegFrame(const JpegFrame&) = delete;
  JpegFrame& operator=(const JpegFrame&) = delete;

  bool open() override {
    cinfo_.err = jpeg_std_error(&errors_.pub);
    errors_.pub.error_exit = onError;
    errors_.pub.output_message = onMessage;
    if (!readHeader()) return false;
    info_.width = cinfo_.image_width;
    info_.height = cinfo_.image_height;
    if (cinfo_.saw_JFIF_marker) {
      // Unit 0 gives only the pixels' aspect ratio, which is no resolution.
      if (cinfo_.density_unit == 1) {
        setResolution(&info_, cinfo_.X_density, cinfo_.Y_density);
      } else if (cinfo_.density_unit == 2) {
        setResolution(&info_, cinfo_.X_density * kCentimetresPerInch,
                      cinfo_.Y_density * kCentimetresPerInch);
      }
    }
    if (!segments_.exif.empty()) {
      info_.exifOrientation = exifOrientation(segments_.exif.data(), segments_.exif.size());
    }
    info_.placeableJpeg = placeableColours();
    // The bytes kept for placing never pass what the decoded image would
    // take, so a placed JPEG costs at most what decoding it would; a file
    // already longer than that, small images included, is decoded.
    source_.recordLimit = pixelBytes();
    if (stored_.size() > source_.recordLimit) source_.overLimit = true;
    if (!info_.placeableJpeg || source_.overLimit) stopRecording();
    return true;
  }

  StoredJpeg readStoredJpeg(std::vector<std::uint8_t>* bytes) override {
    if (used_ || !info_.placeableJpeg) return StoredJpeg::decode;
    used_ = true;
    if (!readScaled()) return StoredJpeg::refused;
    // Data that needed repairs (a corrupt segment, a guessed colour
    // transform) is decoded instead: another reader might repair it
    // differently.
    if (source_.overLimit || errors_.pub.num_warnings != 0) return StoredJpeg::decode;
    // Up to the end of the image; whatever follows it is not the image.
    if (source_.pub.bytes_in_buffer > stored_.size()) return StoredJpeg::decode;
    stored_.resize(stored_.size() - source_.pub.bytes_in_buffer);
    *bytes = std::move(stored_);
    return StoredJpeg::placeable;
  }

  bool decode(std::uint8_t* bgra) override {
    if (used_) return false;
    used_ = true;
    stopRecording();
    const bool fourInks =
        cinfo_.jpeg_color_space == JCS_CMYK || cinfo_.jpeg_color_space == JCS_YCCK;
    if (!readScanlines(bgra, fourInks ? JCS_CMYK : JCS_EXT_BGRA)) return false;
    if (fourInks) cmykToBgra(bgra, pixelBytes() / 4, cinfo_.saw_Adobe_marker);
    return true;
  }

 private:
  bool readHeader() {
    if (setjmp(errors_.jump)) return false;
    jpeg_create_decompress(&cinfo_);
    created_ = true;
    source_.bytes = &bytes_;
    source_.budget = kMaxHeaderBytes;
    source_.pub.init_source = initSource;
    source_.pub.fill_input_buffer = fillInputBuffer;
    source_.pub.skip_input_data = skipInputData;
    source_.pub.resync_to_restart = jpeg_resync_to_restart;
    source_.pub.term_source = termSource;
    source_.pub.next_input_byte = nullptr;
    source_.pub.bytes_in_buffer = 0;
    source_.record = &stored_;
    source_.recordLimit = kMaxRecordedHeaderBytes;
    cinfo_.src = &source_.pub;
    progress_.progress_monitor = onProgress;
    cinfo_.progress = &progress_;
    cinfo_.client_data = &segments_;
    for (const int marker : {JPEG_APP0, JPEG_APP0 + 1, JPEG_APP0 + 14}) {
      jpeg_set_marker_processor(&cinfo_, marker, readAppSegment);
    }
    if (jpeg_read_header(&cinfo_, TRUE) != JPEG_HEADER_OK) return false;
    // Past the header no budget applies: the scans are as long as the image.
    source_.budget = UINT64_MAX;
    return true;
  }

  bool readScanlines(std::uint8_t* out, J_COLOR_SPACE space) {
    if (setjmp(errors_.jump)) return false;
    cinfo_.out_color_space = space;
    jpeg_start_decompress(&cinfo_);
    if (cinfo_.output_width != info_.width || cinfo_.output_height != info_.height ||
        cinfo_.output_components != 4) {
      return false;
    }
    const size_t rowSize = size_t{info_.width} * 4;
    JSAMPROW rows[16];
    while (cinfo_.output_scanline < cinfo_.output_height) {
      const JDIMENSION first = cinfo_.output_scanline;
      JDIMENSION count = cinfo_.output_height - first;
      if (count > 16) count = 16;
      for (JDIMENSION i = 0; i < count; ++i) rows[i] = out + (first + i) * rowSize;
      jpeg_read_scanlines(&cinfo_, rows, count);
    }
    jpeg_finish_decompress(&cinfo_);
    return true;
  }

  // The forms every PDF reader decodes as libjpeg does; any other is left to
  // the decode path.
  std::optional<JpegColours> placeableColours() const {
    if (cinfo_.data_precision != 8 || cinfo_.arith_code) return std::nullopt;
    if (cinfo_.num_components == 1 && cinfo_.jpeg_color_space == JCS_GRAYSCALE) {
      return JpegColours::grey;
    }
    if (cinfo_.num_components != 3) return std::nullopt;
    const std::uint8_t ids[3] = {static_cast<std::uint8_t>(cinfo_.comp_info[0].component_id),
                                 static_cast<std::uint8_t>(cinfo_.comp_info[1].component_id),
                                 static_cast<std::uint8_t>(cinfo_.comp_info[2].component_id)};
    const std::optional<JpegColours> agreed = agreedColours(segments_.colours, ids);
    // libjpeg must read the file as every other reader does.
    const J_COLOR_SPACE own = agreed == JpegColours::rgb ? JCS_RGB : JCS_YCbCr;
    if (!agreed || cinfo_.jpeg_color_space != own) return std::nullopt;
    return agreed;
  }

  void stopRecording() {
    source_.record = nullptr;
    stored_ = {};
  }

  // Every block through the entropy decoder, but only one pixel of each
  // 8 x 8 block out of it: the same data refused as by a full decode, for
  // little more than the cost of reading it.
  bool readScaled() {
    if (setjmp(errors_.jump)) return false;
    cinfo_.scale_num = 1;
    cinfo_.scale_denom = 8;
    cinfo_.out_color_space = cinfo_.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    cinfo_.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo_);
    // Pool memory of libjpeg's own, freed with the decompressor however it ends.
    JSAMPARRAY row = (*cinfo_.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&cinfo_), JPOOL_IMAGE,
        cinfo_.output_width * static_cast<JDIMENSION>(cinfo_.output_components), 1);
    while (cinfo_.output_scanline < cinfo_.output_height) jpeg_read_scanlines(&cinfo_, row, 1);
    jpeg_finish_decompress(&cinfo_);
    return true;
  }

  jpeg_decompress_struct cinfo_{};
  jpeg_progress_mgr progress_{};
  ErrorManager errors_{};
  SourceManager source_{};
  bool created_ = false;
  bool used_ = false;
  std::vector<std::uint8_t> stored_;
  HeaderSegments segments_;
};

}  // namespace

std::unique_ptr<ImageFrame> openJpegFrame(ByteSource&& source) {
  return openFrame<JpegFrame>(std::move(source));
}

}  // namespace folio::codecs::libs
