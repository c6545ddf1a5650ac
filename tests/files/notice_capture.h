// Seeing what reaches the page: the new-file notices and the lines of the log.
#pragma once

#include <string>
#include <vector>

#include "tests/support/ui_loop.h"

// Installs a script runner that keeps the argument of every _onNewPrintedFile call, as it
// stands in the script (escaped for a single-quoted literal).
void capture_notices();

// Every notice argument captured so far, in order of delivery.
const std::vector<std::u16string>& captured_notices();

// The notice argument expected for a full path.
std::u16string expected_notice(const std::string& path);

// The messages of the log file at path, each without its "[HH:MM:SS] " prefix.
std::vector<std::string> log_messages(const std::string& path);

// How many threads this process runs now.
int thread_count();
