// Running the test process's GTK main loop until the window under test has done its work.
#pragma once

#include <functional>

#include "tests/support/ui_loop.h"

// Runs the loop until predicate holds, each time first sending the window system what GTK asked
// of it and handling all that it sent back.
bool pump_window_until(const std::function<bool()>& predicate);

// Returns once every event sent so far is handled and two full paints of the host window have
// run after it, so any repaint those events asked for has happened. Pointer motion is handed to
// the window at the start of a frame, and what it invalidates is painted by the latest in the
// frame after.
void settle();
