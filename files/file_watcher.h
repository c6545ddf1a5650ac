// Watching the output folder for printed PDFs and reporting each to the page.
#pragma once

#include <string>

#include "platform/ui_thread.h"

// The full path of one printed PDF.
struct NewPrintedFile {
  std::u16string path;
  // Renamed into the folder while the program runs (printed now), not found by a listing.
  bool arrived = false;
};

// Once per process: lists the PDFs already in the output folder, then starts the watcher
// thread; each PDF is posted to the UI thread for deliver. Later calls do nothing. UI thread.
void start_file_watcher(Delivery<NewPrintedFile> deliver);

// The page was loaded anew and knows no file: its next start_file_watcher lists the PDFs already
// in the output folder again (the watcher thread goes on as it is). UI thread.
void relist_printed_files_on_next_start();
