// PDF raster document writer: objects are streamed out and indexed in the final xref table.
#include "printer/pdf_raster_writer.h"

#include <cstdio>

namespace {

constexpr int CATALOG_OBJECT = 1;
constexpr int PAGES_OBJECT = 2;
constexpr std::size_t OUT_CHUNK = 65536;

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

}  // namespace

PdfRasterWriter::PdfRasterWriter(std::function<bool(const void*, std::size_t)> sink)
    : sink_(std::move(sink)), object_offsets_(2, 0), out_buffer_(OUT_CHUNK) {
  put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
}

PdfRasterWriter::~PdfRasterWriter() {
  if (in_page_) deflateEnd(&zstream_);
}

bool PdfRasterWriter::put_bytes(const void* data, std::size_t size) {
  if (failed_) return false;
  if (!sink_(data, size)) {
    failed_ = true;
    return false;
  }
  offset_ += size;
  return true;
}

bool PdfRasterWriter::put(const std::string& text) {
  return put_bytes(text.data(), text.size());
}

int PdfRasterWriter::begin_object() {
  object_offsets_.push_back(offset_);
  const int object = static_cast<int>(object_offsets_.size());
  put(std::to_string(object) + " 0 obj\n");
  return object;
}

bool PdfRasterWriter::begin_page(const RasterPageFormat& format) {
  if (failed_ || in_page_ || format.width == 0 || format.height == 0 ||
      (format.bits != 1 && format.bits != 8) ||
      (format.components != 1 && format.components != 3 && format.components != 4) ||
      (format.bits == 1 && format.components != 1) || format.width_points <= 0 ||
      format.height_points <= 0) {
    return false;
  }
  format_ = format;
  row_bytes_ = (static_cast<std::size_t>(format.width) * format.components * format.bits + 7) / 8;
  rows_ = 0;
  stream_bytes_ = 0;
  if (deflateInit(&zstream_, Z_BEST_SPEED) != Z_OK) return false;
  in_page_ = true;

  const char* space = format.components == 1   ? "/DeviceGray"
                      : format.components == 3 ? "/DeviceRGB"
                                               : "/DeviceCMYK";
  image_object_ = begin_object();
  std::string dictionary = "<< /Type /XObject /Subtype /Image /Width " +
                           std::to_string(format.width) + " /Height " +
                           std::to_string(format.height) + " /ColorSpace " + space +
                           " /BitsPerComponent " + std::to_string(format.bits);
  if (format.inverted && format.components == 1) dictionary += " /Decode [1 0]";
  dictionary +=
      " /Filter /FlateDecode /Length " + std::to_string(image_object_ + 1) + " 0 R >>\nstream\n";
  // The bytes of an inverted white row are all zero, of any other white row all ones.
  const bool zero_is_white = format.inverted || format.components == 4;
  white_row_.assign(row_bytes_, zero_is_white ? 0x00 : 0xFF);
  return put(dictionary);
}

bool PdfRasterWriter::deflate_row(const unsigned char* row, int flush) {
  zstream_.next_in = const_cast<unsigned char*>(row);
  zstream_.avail_in = row ? static_cast<uInt>(row_bytes_) : 0;
  do {
    zstream_.next_out = out_buffer_.data();
    zstream_.avail_out = static_cast<uInt>(out_buffer_.size());
    if (deflate(&zstream_, flush) == Z_STREAM_ERROR) return false;
    const std::size_t produced = out_buffer_.size() - zstream_.avail_out;
    if (produced > 0 && !put_bytes(out_buffer_.data(), produced)) return false;
    stream_bytes_ += produced;
  } while (zstream_.avail_out == 0);
  return true;
}

bool PdfRasterWriter::write_row(const unsigned char* row, std::size_t size) {
  if (!in_page_ || failed_ || rows_ >= format_.height || size < row_bytes_) return false;
  if (!deflate_row(row, Z_NO_FLUSH)) return false;
  ++rows_;
  return true;
}

bool PdfRasterWriter::end_page() {
  if (!in_page_) return false;
  bool ok = true;
  while (ok && rows_ < format_.height) {
    ok = deflate_row(white_row_.data(), Z_NO_FLUSH);
    ++rows_;
  }
  ok = ok && deflate_row(nullptr, Z_FINISH);
  deflateEnd(&zstream_);
  in_page_ = false;
  ok = ok && put("\nendstream\nendobj\n");

  begin_object();  // the image's length
  ok = ok && put(std::to_string(stream_bytes_) + "\nendobj\n");

  const std::string w = number(format_.width_points), h = number(format_.height_points);
  const std::string content = "q " + w + " 0 0 " + h + " 0 0 cm /Im0 Do Q\n";
  const int content_object = begin_object();
  ok = ok && put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                 "endstream\nendobj\n");

  const int page_object = begin_object();
  ok = ok && put("<< /Type /Page /Parent " + std::to_string(PAGES_OBJECT) + " 0 R /MediaBox [0 0 " +
                 w + " " + h + "] /Resources << /XObject << /Im0 " + std::to_string(image_object_) +
                 " 0 R >> >> /Contents " + std::to_string(content_object) + " 0 R >>\nendobj\n");
  page_objects_.push_back(page_object);
  return ok;
}

bool PdfRasterWriter::finish() {
  if (in_page_ || failed_) return false;
  object_offsets_[PAGES_OBJECT - 1] = offset_;
  std::string kids;
  for (const int page : page_objects_) kids += std::to_string(page) + " 0 R ";
  put(std::to_string(PAGES_OBJECT) + " 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " +
      std::to_string(page_objects_.size()) + " >>\nendobj\n");
  object_offsets_[CATALOG_OBJECT - 1] = offset_;
  put(std::to_string(CATALOG_OBJECT) + " 0 obj\n<< /Type /Catalog /Pages " +
      std::to_string(PAGES_OBJECT) + " 0 R >>\nendobj\n");

  const std::size_t xref_offset = offset_;
  std::string xref =
      "xref\n0 " + std::to_string(object_offsets_.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t object_offset : object_offsets_) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object_offset);
    xref += entry;
  }
  xref += "trailer\n<< /Size " + std::to_string(object_offsets_.size() + 1) + " /Root " +
          std::to_string(CATALOG_OBJECT) + " 0 R >>\nstartxref\n" + std::to_string(xref_offset) +
          "\n%%EOF\n";
  return put(xref);
}
