// Seeing what reaches the page: the new-file notices and the lines of the log.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Installs a script runner that keeps the argument of every _onNewPrintedFile call, as it
// stands in the script (escaped for a single-quoted literal).
void capture_notices();

// Every notice argument captured so far, in order of delivery.
const std::vector<std::u16string>& captured_notices();

// The notice argument expected for a full path.
std::u16string expected_notice(const std::string& path);

// Runs the UI thread's main context until done holds; false when the guard time passes first
// (a hang guard only, never a speed check).
bool pump_until(const std::function<bool()>& done,
                std::chrono::seconds guard = std::chrono::seconds(60));

// Posts a marker to the UI thread and runs the main context until it has run, so everything
// posted before it has been delivered.
bool pump_all_posted();

// The messages of the log file at path, each without its "[HH:MM:SS] " prefix.
std::vector<std::string> log_messages(const std::string& path);

// How many threads this process runs now.
int thread_count();
