// Watching the output folder for printed PDFs and reporting each to the page.
#pragma once

// Once per process: lists the PDFs already in the output folder, then starts the watcher
// thread. Later calls do nothing. UI thread.
void start_file_watcher();
