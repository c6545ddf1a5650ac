// Running the test process's GTK main loop until the window under test has done its work.
#pragma once

#include <gtk/gtk.h>

#include "tests/support/app_process.h"

// Handles every event and source that is ready, without waiting.
void drain();

// Runs the loop until predicate holds, reading everything the window system has sent first.
template <class Predicate>
bool pump_until(Predicate predicate) {
  return wait_until([&] {
    gdk_display_sync(gdk_display_get_default());
    drain();
    return predicate();
  });
}

// Returns once every event sent so far is handled and two full paints of the host window have
// run after it, so any repaint those events asked for has happened. Pointer motion is handed to
// the window at the start of a frame, and what it invalidates is painted by the latest in the
// frame after.
void settle();
