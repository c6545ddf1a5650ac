// The host window in this process on a Wayland compositor (mutter), which places the window
// itself, driven with real pointer input: the bar after the window is closed and shown again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "tests/support/app_process.h"
#include "tests/support/wayland_session.h"
#include "tests/window/painted_bar.h"
#include "tests/window/window_loop.h"
#include "window/host_window.h"
#include "window/title_bar.h"
#include "window/window_colour.h"
#include "window/window_system.h"

namespace {

// One compositor, one GTK and one window for the whole test process.
struct Session {
  std::unique_ptr<WaylandSession> wayland;
  // The process's XDG_RUNTIME_DIR, without which no Wayland client connects.
  std::unique_ptr<TempDir> runtime = std::make_unique<TempDir>();
  bool ok = false;
};

Session& session() {
  static Session s = [] {
    Session made;
    made.wayland = std::make_unique<WaylandSession>();
    if (!made.wayland->ok()) return made;
    for (const auto& [name, value] : made.wayland->client_env()) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    setenv("XDG_RUNTIME_DIR", made.runtime->path().c_str(), 1);
    if (!init_window_system()) return made;
    create_host_window(true);
    made.ok = pump_window_until([] { return gtk_widget_get_mapped(GTK_WIDGET(host_window())); });
    return made;
  }();
  return s;
}

// The bar as the window paints it now, against the bar painted with button lit.
bool bar_shows(CaptionButton button) {
  GtkWidget* bar = host_title_bar();
  const int width = gtk_widget_get_allocated_width(bar);
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, gtk_widget_get_allocated_height(bar));
  cairo_t* cr = cairo_create(surface);
  gtk_widget_draw(bar, cr);
  cairo_destroy(cr);
  const bool same =
      surface_pixels(surface) == painted_title_bar(96, width, button, INITIAL_BACKGROUND);
  cairo_surface_destroy(surface);
  return same;
}

struct Point {
  int x;
  int y;
};

// The pointer as the window sees it, while the window believes it is over it.
std::optional<Point> pointer_in_window() {
  GdkDevice* pointer =
      gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  GdkWindow* ours = gtk_widget_get_window(GTK_WIDGET(host_window()));
  GdkWindow* under = gdk_device_get_window_at_position(pointer, nullptr, nullptr);
  if (under == nullptr || gdk_window_get_toplevel(under) != ours) return std::nullopt;
  double x = 0, y = 0;
  gdk_window_get_device_position_double(ours, pointer, &x, &y, nullptr);
  return Point{static_cast<int>(x), static_cast<int>(y)};
}

// Moves the pointer in steps from the screen's top-left corner onto the window, then steers it
// by what the window sees to within 8 pixels of target (in the window).
bool steer_pointer_to(Point target) {
  WaylandSession& wayland = *session().wayland;
  const auto moved = [](std::optional<Point> from) {
    return wait_until(
        [&] {
          drain_ui_loop();
          const std::optional<Point> now = pointer_in_window();
          return now.has_value() != from.has_value() ||
                 (now && (now->x != from->x || now->y != from->y));
        },
        std::chrono::milliseconds(500));
  };
  // In from the corner until the window hears of the pointer (what it held before may be
  // stale).
  wayland.point_at_corner();
  std::optional<Point> seen = pointer_in_window();
  for (int step = 0; step < 60; ++step) {
    wayland.move_pointer_by(20, 20);
    const bool heard = moved(seen);
    seen = pointer_in_window();
    if (heard && seen) break;
  }
  for (int step = 0; step < 200; ++step) {
    const std::optional<Point> now = pointer_in_window();
    if (!now) return false;
    const int dx = target.x - now->x, dy = target.y - now->y;
    if (std::abs(dx) <= 8 && std::abs(dy) <= 8) return true;
    // Half the way each time: a fast motion can come out twice as long.
    const auto half = [](int d) {
      return d == 0 ? 0 : std::clamp(d / 2 + (d > 0 ? 1 : -1), -40, 40);
    };
    wayland.move_pointer_by(half(dx), half(dy));
    moved(now);
  }
  return false;
}

// GDK misses the pointer's leave of the hidden window; shown again, the window must light the
// button under the pointer only, not the one it was closed with.
TEST(WaylandWindowTest, ShownAgainTheBarLightsOnlyUnderThePointer) {
  if (!session().ok) {
    GTEST_SKIP() << "no Wayland session for the window: "
                 << (session().wayland ? session().wayland->error() : "");
  }
  ASSERT_TRUE(steer_pointer_to({491, 14})) << "the pointer did not reach the close button";
  ASSERT_TRUE(pump_window_until([] { return bar_shows(CaptionButton::close); }));
  session().wayland->click();
  ASSERT_TRUE(pump_window_until([] { return !gtk_widget_get_visible(GTK_WIDGET(host_window())); }));

  session().wayland->point_at_corner();  // away while it is hidden: the window is not there
  bring_host_window_to_front();
  ASSERT_TRUE(pump_window_until([] { return gtk_widget_get_mapped(GTK_WIDGET(host_window())); }));
  settle();
  EXPECT_TRUE(bar_shows(CaptionButton::none)) << "the close button is still lit";

  EXPECT_TRUE(steer_pointer_to({445, 14}));
  EXPECT_TRUE(pump_window_until([] { return bar_shows(CaptionButton::minimize); }));
}

}  // namespace
