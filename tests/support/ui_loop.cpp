#include "tests/support/ui_loop.h"

#include <glib.h>

#include "platform/ui_thread.h"

namespace {

// Wakes the loop now and then, so that pump_until looks at a condition outside it again.
constexpr guint WAKE_INTERVAL_MS = 2;

gboolean keep_waking(gpointer) {
  return G_SOURCE_CONTINUE;
}

}  // namespace

void drain_ui_loop() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds guard) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  const guint wake = g_timeout_add(WAKE_INTERVAL_MS, keep_waking, nullptr);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(wake);
  return done();
}

bool pump_all_posted() {
  bool marker_ran = false;
  post_to_ui_thread([&marker_ran] { marker_ran = true; });
  return pump_until([&] { return marker_ran; });
}
