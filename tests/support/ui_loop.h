// Running the test process's UI loop (the GLib default main context) while a test waits.
#pragma once

#include <chrono>
#include <functional>

// Handles every event and source of the UI loop that is ready, without waiting.
void drain_ui_loop();

// Runs the UI loop until done holds. done is looked at after every turn and at least every few
// milliseconds, so that a condition outside the loop is seen too. False when guard passes
// first: a hang guard, never a time the test relies on.
bool pump_until(const std::function<bool()>& done,
                std::chrono::milliseconds guard = std::chrono::seconds(60));

// Posts a marker to the UI thread and runs the loop until it has run, so that everything this
// thread posted before it has been handled.
bool pump_all_posted();
