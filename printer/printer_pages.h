// The pages the printer's attributes point at: "printer-more-info" (what the printer does) and
// "printer-supply-info-uri" (the room left for documents), so that print dialogs that link to
// them find a page.
#pragma once

#include <pappl/pappl.h>

#include <string>

// Serves both pages of printer; output_folder is where its documents go. One printer per process.
void add_printer_pages(pappl_system_t* system, pappl_printer_t* printer,
                       const std::string& output_folder);
