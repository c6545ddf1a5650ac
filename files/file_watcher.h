// Watching the output folder for printed PDFs and reporting each to the page.
#pragma once

// Once per process: lists the PDFs already in the output folder, then starts the watcher
// thread. Later calls do nothing. UI thread.
void start_file_watcher();

// The page was loaded anew and knows no file: its next start_file_watcher lists the PDFs already
// in the output folder again (the watcher thread goes on as it is). UI thread.
void relist_printed_files_on_next_start();
