// poppler's pdfinfo and pdftoppm driven from tests.
#include "tests/printer/pdf_check.h"

#include <cstdio>
#include <sstream>

#include "tests/support/child_process.h"

PdfInfo pdf_info(const std::string& path) {
  PdfInfo info;
  int status = 0;
  info.text = run_command("pdfinfo -f 1 -l 1000 " + shell_quote(path) + " 2>&1", &status);
  if (status != 0) return info;
  std::istringstream lines(info.text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("Pages:", 0) == 0) info.pages = std::stoi(line.substr(6));
    if (line.rfind("Page ", 0) == 0 && line.find(" size:") != std::string::npos) {
      std::string size = line.substr(line.find(" size:") + 6);
      size.erase(0, size.find_first_not_of(' '));
      // "612 x 792 pts (letter)" -> "612 x 792 pts"
      if (const auto end = size.find(" pts"); end != std::string::npos) size.resize(end + 4);
      info.page_sizes.push_back(size);
    }
  }
  return info;
}

std::optional<Rgb> render_pixel(const std::string& path, int page, int dpi, int x, int y) {
  int status = 0;
  const std::string ppm =
      run_command("pdftoppm -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
                      std::to_string(page) + " -x " + std::to_string(x) + " -y " +
                      std::to_string(y) + " -W 1 -H 1 " + shell_quote(path),
                  &status);
  // "P6\n1 1\n255\n" followed by three bytes.
  if (status != 0 || ppm.size() < 3 || ppm.compare(0, 2, "P6") != 0) return std::nullopt;
  const std::string pixel = ppm.substr(ppm.size() - 3);
  return Rgb{static_cast<unsigned char>(pixel[0]), static_cast<unsigned char>(pixel[1]),
             static_cast<unsigned char>(pixel[2])};
}
