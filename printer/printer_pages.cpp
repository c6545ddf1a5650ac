// The printer's information pages, served by the framework as resources of the printer's path.
#include "printer/printer_pages.h"

#include <string>

#include "printer/output_space.h"

namespace {

// The printer's name and where its documents go; set once before the system serves anything.
std::string pages_printer_name;
std::string pages_output_folder;

// Sends a complete HTML page.
bool send_page(pappl_client_t* client, const std::string& title, const std::string& body) {
  const std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + title +
      "</title></head>\n<body><h1>" + title + "</h1>\n" + body + "</body></html>\n";
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, page.size())) {
    return false;
  }
  return httpWrite2(papplClientGetHTTP(client), page.data(), page.size()) ==
         static_cast<ssize_t>(page.size());
}

bool more_info_page(pappl_client_t* client, void* data) {
  (void)data;
  return send_page(client, pages_printer_name,
                   "<p>Every document printed here is saved as a PDF file in the output folder of "
                   "Telvana Print-to-Fax, whose window then offers to send it as a fax.</p>\n");
}

bool supplies_page(pappl_client_t* client, void* data) {
  (void)data;
  const int percent = free_space_percent(pages_output_folder);
  const std::string room = percent < 0 ? "unknown" : std::to_string(percent) + " %";
  return send_page(client, "Supplies of " + pages_printer_name,
                   "<p>This printer uses no paper, ink or toner: it saves documents as files.</p>\n"
                   "<p>Space for documents: " +
                       room + " of the output folder's disk is free.</p>\n");
}

}  // namespace

void add_printer_pages(pappl_system_t* system, pappl_printer_t* printer,
                       const std::string& output_folder) {
  pages_printer_name = papplPrinterGetName(printer);
  pages_output_folder = output_folder;
  char path[1024] = "";
  papplPrinterGetPath(printer, "", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", more_info_page, nullptr);
  papplPrinterGetPath(printer, "supplies", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", supplies_page, nullptr);
}
