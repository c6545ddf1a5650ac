// Identify-Printer and the test-page image of the printer.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

// Name of the shipped test-page image.
inline constexpr const char* TEST_PAGE_COLOR = "portrait-color.png";

// Identify callback: rings the bell on standard output, then writes the message and a newline
// when there is one, and flushes.
void identify_printer(pappl_printer_t* printer, pappl_identify_actions_t actions,
                      const char* message);

// Test-page callback: "portrait-color.png" (or "portrait-gray.png" for a printer without
// colour) in the current folder, then in "testsuite/", then beside the executable. Returns
// buffer holding the readable file's name, or null with an empty buffer.
const char* select_test_page(pappl_printer_t* printer, char* buffer, size_t size);
