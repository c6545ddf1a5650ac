// The host window in this process, on a private X server, driven with real pointer input.
#include "window/host_window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "tests/support/app_process.h"
#include "tests/window/painted_bar.h"
#include "tests/window/window_loop.h"
#include "tests/window/x_test_display.h"
#include "window/title_bar.h"
#include "window/window_system.h"

namespace {

constexpr int XFT_96 = 96 * 1024;
constexpr int XFT_144 = 144 * 1024;

// One X server, one GTK and one window for the whole test process.
struct Session {
  std::unique_ptr<PrivateXServer> server;
  std::unique_ptr<XClient> client;
  Window window = 0;
  bool ok = false;
};

Session& session() {
  static Session s = [] {
    Session made;
    made.server = std::make_unique<PrivateXServer>();
    if (!made.server->ok()) return made;
    made.client = std::make_unique<XClient>(made.server->display());
    if (!made.client->ok()) return made;
    made.client->publish_xft_dpi(XFT_96);
    setenv("DISPLAY", made.server->display().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    if (!init_window_system()) return made;
    create_host_window(true);
    const bool found = pump_window_until([&] {
      const auto window = made.client->find_window(WINDOW_CLASS);
      if (window) made.window = *window;
      return window && made.client->info(*window)->viewable;
    });
    made.ok = found;
    return made;
  }();
  return s;
}

XWindowInfo window_info() {
  return *session().client->info(session().window);
}

bool window_is(int x, int y, int width, int height) {
  const XWindowInfo info = window_info();
  return info.x == x && info.y == y && info.width == width && info.height == height;
}

// The bar as the screen shows it, against the same bar painted into an image.
void expect_screen_shows_bar(int dpi, CaptionButton hovered, uint32_t background) {
  const XWindowInfo info = window_info();
  const int height = title_bar_metrics(dpi).height;
  const std::vector<uint32_t> screen =
      session().client->capture(info.x, info.y, info.width, height);
  ASSERT_EQ(screen.size(), static_cast<size_t>(info.width) * height);
  const std::vector<uint32_t> painted = painted_title_bar(dpi, info.width, hovered, background);
  int differing = 0;
  for (std::size_t i = 0; i < painted.size(); ++i) {
    if (screen[i] != painted[i] && differing++ < 5) {
      ADD_FAILURE() << "pixel (" << i % info.width << ", " << i / info.width << ") is " << std::hex
                    << screen[i] << ", painted " << painted[i];
    }
  }
  EXPECT_EQ(differing, 0);
}

// Keeps the lowest row that a repaint of the whole window covered.
gboolean record_lowest_repaint(GtkWidget*, cairo_t* cr, double* lowest) {
  double x1, y1, x2, y2;
  cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
  if (y2 > *lowest) *lowest = y2;
  return FALSE;
}

class HostWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!session().ok) GTEST_SKIP() << "no private X server (Xvfb) could be started";
    // The same starting point for every test: shown, "home" size, first colour, 96 dpi.
    session().client->publish_xft_dpi(XFT_96);
    bring_host_window_to_front();
    set_window_background(u"#FAFBFC");
    resize_host_window(514, 414);
    session().client->move_pointer(0, SCREEN_HEIGHT - 1);
    ASSERT_TRUE(pump_window_until([] {
      const XWindowInfo info = window_info();
      return info.viewable && info.width == 514 && info.height == 442 && host_window_dpi() == 96;
    }));
    settle();
  }
};

TEST_F(HostWindowTest, LayoutChangesKeepTheBottomLeftCorner) {
  resize_host_window(514, 386);  // 514 x 414 in all
  ASSERT_TRUE(pump_window_until([] { return window_info().height == 414; }));
  gtk_window_move(host_window(), 200, 386);  // as a user's drag would: bottom at row 800
  ASSERT_TRUE(pump_window_until([] { return window_is(200, 386, 514, 414); }));

  resize_host_window(514, 414);  // "home"
  EXPECT_TRUE(pump_window_until([] { return window_is(200, 358, 514, 442); }));
  resize_host_window(514, 498);  // "home-with-banner"
  EXPECT_TRUE(pump_window_until([] { return window_is(200, 274, 514, 526); }));
  resize_host_window(424, 414);  // the compact layout: smaller again
  EXPECT_TRUE(pump_window_until([] { return window_is(200, 358, 424, 442); }));
  const XWindowInfo info = window_info();
  EXPECT_EQ(info.y + info.height, 800) << "bottom edge moved";
}

TEST_F(HostWindowTest, HoverRepaintsOnlyTheStripAndOnlyOnAChange) {
  int bar_draws = 0;
  double lowest_window_repaint = 0;
  const gulong bar_handler = g_signal_connect_swapped(
      host_title_bar(), "draw", G_CALLBACK(+[](int* n) { ++*n; }), &bar_draws);
  const gulong window_handler = g_signal_connect(
      host_window(), "draw", G_CALLBACK(record_lowest_repaint), &lowest_window_repaint);
  const XWindowInfo at = window_info();
  XClient& pointer = *session().client;

  struct Step {
    int x, y;  // in the window
    int draws;
    CaptionButton lit;
  };
  const Step steps[] = {
      {491, 14, 1, CaptionButton::close},     // onto close
      {500, 20, 1, CaptionButton::close},     // within close: no repaint
      {445, 14, 2, CaptionButton::minimize},  // across to minimize
      {200, 14, 3, CaptionButton::none},      // the rest of the bar
      {100, 10, 3, CaptionButton::none},     {470, 2, 4, CaptionButton::close},
      {470, 300, 5, CaptionButton::none},  // below the bar
  };
  for (const Step& step : steps) {
    pointer.move_pointer(at.x + step.x, at.y + step.y);
    settle();
    EXPECT_EQ(bar_draws, step.draws) << "after moving to (" << step.x << ", " << step.y << ")";
    expect_screen_shows_bar(96, step.lit, 0xFAFBFC);
  }
  EXPECT_GT(lowest_window_repaint, 0);
  EXPECT_LE(lowest_window_repaint, 28) << "a hover change repainted more than the bar";

  pointer.move_pointer(at.x - 50, at.y - 50);
  settle();
  EXPECT_EQ(bar_draws, 5);
  pointer.move_pointer(at.x + 491, at.y + 14);
  settle();
  EXPECT_EQ(bar_draws, 6);
  expect_screen_shows_bar(96, CaptionButton::close, 0xFAFBFC);
  pointer.move_pointer(at.x - 50, at.y - 50);  // out of the window: the hover clears
  settle();
  EXPECT_EQ(bar_draws, 7);
  expect_screen_shows_bar(96, CaptionButton::none, 0xFAFBFC);
  g_signal_handler_disconnect(host_title_bar(), bar_handler);
  g_signal_handler_disconnect(host_window(), window_handler);
}

// A button that comes under a pointer at rest gets only an enter event, no motion.
TEST_F(HostWindowTest, ABarArrivingUnderTheStillPointerLightsTheButtonThere) {
  struct Case {
    const char* what;
    int x, y;  // the pointer, in the window as it is at the start
    void (*arrive)();
    int top_moves;  // how far the window's top moves up on arrival
    CaptionButton lit;
  };
  const Case cases[] = {
      {"shown again where it was closed", 491, 14,
       [] {
         const XWindowInfo at = window_info();
         session().client->click(at.x + 491, at.y + 14);
         ASSERT_TRUE(pump_window_until([] { return !window_info().viewable; }));
       },
       0, CaptionButton::close},
      {"grown upwards under the pointer", 445, -70, [] { resize_host_window(514, 498); }, 84,
       CaptionButton::minimize},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();  // each case from the same start
    const XWindowInfo at = window_info();
    // Out across the bar: a drag that GTK emulates without a window manager can leave it
    // believing the pointer is still over the bar, and this sets it right.
    session().client->move_pointer(at.x + 200, at.y + 14);
    session().client->move_pointer(0, SCREEN_HEIGHT - 1);
    settle();
    c.arrive();
    session().client->move_pointer(at.x + c.x, at.y + c.y);  // not onto the window (yet)
    bring_host_window_to_front();
    ASSERT_TRUE(pump_window_until(
        [&] { return window_is(at.x, at.y - c.top_moves, 514, 442 + c.top_moves); }));
    settle();
    expect_screen_shows_bar(96, c.lit, 0xFAFBFC);
  }
}

TEST_F(HostWindowTest, CloseHidesTheWindowAndFrontBringsItBackInPlace) {
  const XWindowInfo before = window_info();
  session().client->click(before.x + 491, before.y + 14);
  ASSERT_TRUE(pump_window_until([] { return !window_info().viewable; }));
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(host_window())));

  // Moving the mouse away while hidden; the window comes back unlit, where it was.
  session().client->move_pointer(0, 0);
  bring_host_window_to_front();
  ASSERT_TRUE(pump_window_until([] { return window_info().viewable; }));
  EXPECT_TRUE(window_is(before.x, before.y, before.width, before.height));
  settle();
  expect_screen_shows_bar(96, CaptionButton::none, 0xFAFBFC);
}

TEST_F(HostWindowTest, MinimizeAndReleasesElsewhereDoNotHide) {
  const XWindowInfo at = window_info();
  session().client->click(at.x + 445, at.y + 14);   // minimize (no window manager here to act)
  session().client->click(at.x + 491, at.y + 200);  // below the bar, under the close column
  settle();
  EXPECT_TRUE(window_info().viewable);
}

TEST_F(HostWindowTest, DraggingTheBarMovesTheWindowAndLayoutsFollowIt) {
  const XWindowInfo start = window_info();
  XClient& pointer = *session().client;
  pointer.move_pointer(start.x + 100, start.y + 10);
  pointer.button(1, true);
  settle();
  for (int step = 1; step <= 6; ++step) {
    pointer.move_pointer(start.x + 100 + step * 10, start.y + 10 + step * 8);
    settle();
  }
  pointer.button(1, false);
  ASSERT_TRUE(pump_window_until([&] { return window_is(start.x + 60, start.y + 48, 514, 442); }));

  resize_host_window(514, 498);
  EXPECT_TRUE(
      pump_window_until([&] { return window_is(start.x + 60, start.y + 48 - 84, 514, 526); }));
}

TEST_F(HostWindowTest, BackgroundColourRepaintsWindowAndBar) {
  set_window_background(u"#1E90FF");
  settle();
  expect_screen_shows_bar(96, CaptionButton::none, 0x1E90FF);
  const XWindowInfo at = window_info();
  EXPECT_EQ(session().client->capture(at.x + 5, at.y + 200, 1, 1)[0], 0x1E90FFu);

  for (const char16_t* ignored : {u"1E90FF", u"#12345", u" #000000"}) {
    set_window_background(std::u16string_view(ignored));
    settle();
    expect_screen_shows_bar(96, CaptionButton::none, 0x1E90FF);
  }
  set_window_background(u"#zzzzzz");
  settle();
  expect_screen_shows_bar(96, CaptionButton::none, 0x000000);
}

TEST_F(HostWindowTest, PageViewFillsTheWindowBelowTheBar) {
  GtkWidget* view = gtk_drawing_area_new();
  host_window_set_page_view(view);
  ASSERT_TRUE(pump_window_until([&] {
    GtkAllocation a;
    gtk_widget_get_allocation(view, &a);
    return a.x == 0 && a.y == 28 && a.width == 514 && a.height == 414;
  }));
  resize_host_window(424, 414);  // narrower: the view must not hold the window wide
  EXPECT_TRUE(pump_window_until([&] {
    GtkAllocation a;
    gtk_widget_get_allocation(view, &a);
    return window_info().width == 424 && a.width == 424 && a.height == 414;
  }));
}

TEST_F(HostWindowTest, DpiChangeReappliesTheSizeAtTheSameTopLeft) {
  const XWindowInfo before = window_info();
  session().client->publish_xft_dpi(XFT_144);
  ASSERT_TRUE(pump_window_until([&] { return window_is(before.x, before.y, 771, 663); }));
  EXPECT_EQ(host_window_dpi(), 144);
  settle();
  EXPECT_EQ(gtk_widget_get_allocated_height(host_title_bar()), 42);
  expect_screen_shows_bar(144, CaptionButton::none, 0xFAFBFC);
  const XWindowInfo at = window_info();
  EXPECT_EQ(caption_button_at(144, at.width, 702, 41), CaptionButton::close);
  session().client->click(at.x + 702, at.y + 41);  // the close button's corner at 144 dpi
  EXPECT_TRUE(pump_window_until([] { return !window_info().viewable; }));
}

}  // namespace
