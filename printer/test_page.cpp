// Identify-Printer on standard output and the lookup of the test-page image.
#include "printer/test_page.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/config.h"
#include "core/folders.h"

void identify_printer(pappl_printer_t* printer, pappl_identify_actions_t actions,
                      const char* message) {
  (void)printer;
  (void)actions;
  std::fputc('\a', stdout);
  if (message) {
    std::fputs(message, stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
}

const char* select_test_page(pappl_printer_t* printer, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  pappl_pr_driver_data_t data{};
  papplPrinterGetDriverData(printer, &data);
  const std::string name =
      (data.color_supported & PAPPL_COLOR_MODE_COLOR) ? TEST_PAGE_COLOR : "portrait-gray.png";
  // The current folder and its testsuite folder first, then the image shipped beside the
  // program, so that the test page works wherever the program was started from.
  const std::string candidates[] = {name, "testsuite/" + name, executable_folder() + "/" + name};
  for (const std::string& candidate : candidates) {
    if (candidate.size() < size && access(candidate.c_str(), R_OK) == 0) {
      papplCopyString(buffer, candidate.c_str(), size);
      return buffer;
    }
  }
  buffer[0] = '\0';
  return nullptr;
}
