// Reading PDF output back with poppler's command-line tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct PdfInfo {
  int pages = 0;                        // 0 when the file is not a readable PDF
  std::vector<std::string> page_sizes;  // "W x H pts" per page
  std::string text;                     // pdfinfo's output
};

// pdfinfo of the file, with every page's size.
PdfInfo pdf_info(const std::string& path);

struct Rgb {
  int r = 0, g = 0, b = 0;
};

// The colour of one pixel of a page rendered at dpi; nullopt when it cannot be rendered.
std::optional<Rgb> render_pixel(const std::string& path, int page, int dpi, int x, int y);
