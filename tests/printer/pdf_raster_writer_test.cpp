// Raster pages written as PDF, read back with poppler's tools.
#include "printer/pdf_raster_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/printer/pdf_check.h"
#include "tests/support/temp_dir.h"

namespace {

// Writes a document of the given pages (each page a row generator) to path.
template <class RowFn>
bool write_document(const std::string& path, const std::vector<RasterPageFormat>& pages,
                    RowFn row_for) {
  std::string bytes;
  PdfRasterWriter writer([&](const void* data, std::size_t size) {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  });
  for (std::size_t p = 0; p < pages.size(); ++p) {
    if (!writer.begin_page(pages[p])) return false;
    std::vector<unsigned char> row(writer.bytes_per_row());
    for (unsigned y = 0; y < pages[p].height; ++y) {
      row_for(p, y, row);
      if (!writer.write_row(row.data(), row.size())) return false;
    }
    if (!writer.end_page()) return false;
  }
  return writer.finish() && write_file(path, bytes);
}

TEST(PdfRasterWriter, PagesKeepTheirSizeAndPixels) {
  TempDir dir;
  // 1-bit black, 8-bit black, 8-bit gray and 8-bit RGB pages at 72 dpi, so that one PDF point
  // is one pixel when rendered at 72 dpi.
  const std::vector<RasterPageFormat> pages = {
      {64, 32, 1, 1, true, 64, 32},
      {64, 32, 1, 8, true, 64, 32},
      {48, 40, 1, 8, false, 48, 40},
      {40, 48, 3, 8, false, 40, 48},
  };
  const std::string path = dir / "pages.pdf";
  ASSERT_TRUE(write_document(path, pages,
                             [](std::size_t page, unsigned y, std::vector<unsigned char>& row) {
                               for (std::size_t i = 0; i < row.size(); ++i) {
                                 switch (page) {
                                   case 0:
                                     row[i] = (y < 16) ? 0xFF : 0x00;
                                     break;  // top half black
                                   case 1:
                                     row[i] = (i < 32) ? 0xFF : 0x00;
                                     break;  // left half black
                                   case 2:
                                     row[i] = static_cast<unsigned char>(y / 8 * 40);
                                     break;  // gray bands
                                   default:
                                     row[i] = (i % 3 == 0) ? 200 : (i % 3 == 1) ? 30 : 90;
                                     break;
                                 }
                               }
                             }));
  const PdfInfo info = pdf_info(path);
  ASSERT_EQ(info.pages, 4) << info.text;
  EXPECT_EQ(info.page_sizes[0], "64 x 32 pts");
  EXPECT_EQ(info.page_sizes[2], "48 x 40 pts");
  EXPECT_EQ(info.page_sizes[3], "40 x 48 pts");

  struct Probe {
    int page, x, y;
    int r, g, b;
  } probes[] = {
      {1, 10, 5, 0, 0, 0},        {1, 10, 25, 255, 255, 255}, {2, 5, 10, 0, 0, 0},
      {2, 50, 10, 255, 255, 255}, {3, 10, 20, 80, 80, 80},    {4, 20, 20, 200, 30, 90},
  };
  for (const Probe& probe : probes) {
    const auto pixel = render_pixel(path, probe.page, 72, probe.x, probe.y);
    ASSERT_TRUE(pixel.has_value()) << "page " << probe.page;
    EXPECT_NEAR(pixel->r, probe.r, 2) << "page " << probe.page;
    EXPECT_NEAR(pixel->g, probe.g, 2) << "page " << probe.page;
    EXPECT_NEAR(pixel->b, probe.b, 2) << "page " << probe.page;
  }
}

TEST(PdfRasterWriter, RejectsBadFormatsAndExtraRows) {
  PdfRasterWriter writer([](const void*, std::size_t) { return true; });
  EXPECT_FALSE(writer.begin_page({0, 10, 1, 8, false, 10, 10}));
  EXPECT_FALSE(writer.begin_page({10, 10, 2, 8, false, 10, 10}));
  EXPECT_FALSE(writer.begin_page({10, 10, 3, 1, false, 10, 10}));
  EXPECT_FALSE(writer.begin_page({10, 10, 1, 16, false, 10, 10}));
  ASSERT_TRUE(writer.begin_page({4, 1, 1, 8, false, 4, 1}));
  const unsigned char row[4] = {1, 2, 3, 4};
  EXPECT_FALSE(writer.write_row(row, 3));
  EXPECT_TRUE(writer.write_row(row, 4));
  EXPECT_FALSE(writer.write_row(row, 4));
  EXPECT_TRUE(writer.end_page());
  EXPECT_TRUE(writer.finish());
}

TEST(PdfRasterWriter, AFailingSinkIsReported) {
  int calls = 0;
  PdfRasterWriter writer([&](const void*, std::size_t) { return ++calls < 3; });
  bool ok = writer.begin_page({8, 8, 1, 8, false, 8, 8});
  const unsigned char row[8] = {};
  for (int y = 0; y < 8 && ok; ++y) ok = writer.write_row(row, 8);
  ok = ok && writer.end_page() && writer.finish();
  EXPECT_FALSE(ok);
}

}  // namespace
