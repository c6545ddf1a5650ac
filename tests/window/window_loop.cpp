#include "tests/window/window_loop.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "window/host_window.h"

namespace {

// Runs one full frame of the window (events flushed, layout, paint).
void run_one_frame() {
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(host_window()));
  int painted = 0;
  const gulong id =
      g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* n) { ++*n; }), &painted);
  gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_PAINT);
  EXPECT_TRUE(pump_until([&] { return painted > 0; }));
  g_signal_handler_disconnect(clock, id);
}

}  // namespace

bool pump_window_until(const std::function<bool()>& predicate) {
  return pump_until([&] {
    gdk_display_sync(gdk_display_get_default());
    drain_ui_loop();
    return predicate();
  });
}

void settle() {
  gdk_display_sync(gdk_display_get_default());
  drain_ui_loop();
  run_one_frame();
  run_one_frame();
}
