// A streaming writer of PDF documents made of raster pages: one lossless image per page,
// compressed row by row, so a page is never held whole in memory.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Pixel layout of one page's rows.
struct RasterPageFormat {
  unsigned width = 0;       // pixels per row
  unsigned height = 0;      // rows
  unsigned components = 1;  // 1 gray, 3 RGB, 4 CMYK
  unsigned bits = 8;        // bits per component: 1 or 8
  bool inverted = false;    // 0 means white (black ink), as in the K colour space
  double width_points = 0;  // page size in PDF points
  double height_points = 0;
};

class PdfRasterWriter {
 public:
  // sink receives every byte of the document in order and returns false on a write error.
  explicit PdfRasterWriter(std::function<bool(const void*, std::size_t)> sink);
  ~PdfRasterWriter();
  PdfRasterWriter(const PdfRasterWriter&) = delete;
  PdfRasterWriter& operator=(const PdfRasterWriter&) = delete;

  // Starts a page; false on a bad format or a write error.
  bool begin_page(const RasterPageFormat& format);
  // Adds the next row (bytes_per_row() bytes, extra bytes ignored); false on a write error or
  // when the page already has all its rows.
  bool write_row(const unsigned char* row, std::size_t size);
  // Ends the page; rows not written are filled with white. False on a write error.
  bool end_page();
  // Writes the page tree, cross-reference table and trailer; false on a write error.
  bool finish();

  std::size_t bytes_per_row() const { return row_bytes_; }
  unsigned rows_written() const { return rows_; }
  unsigned page_count() const { return static_cast<unsigned>(page_objects_.size()); }

 private:
  bool put(const std::string& text);
  bool put_bytes(const void* data, std::size_t size);
  int begin_object();
  bool deflate_row(const unsigned char* row, int flush);

  std::function<bool(const void*, std::size_t)> sink_;
  std::size_t offset_ = 0;
  std::vector<std::size_t> object_offsets_;  // index = object number - 1
  std::vector<int> page_objects_;
  z_stream zstream_{};
  bool in_page_ = false;
  bool failed_ = false;
  RasterPageFormat format_;
  std::size_t row_bytes_ = 0;
  unsigned rows_ = 0;
  std::size_t stream_bytes_ = 0;
  int image_object_ = 0;
  std::vector<unsigned char> out_buffer_;
  std::vector<unsigned char> white_row_;
};
