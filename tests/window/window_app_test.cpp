// The real program's window on an X server of the test's own.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <memory>

#include "tests/support/app_process.h"
#include "tests/window/painted_bar.h"
#include "tests/window/x_test_display.h"
#include "window/title_bar.h"
#include "window/window_system.h"

namespace {

class WindowAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<PrivateXServer>();
    if (!server_->ok()) GTEST_SKIP() << "no private X server (Xvfb) could be started";
    client_ = std::make_unique<XClient>(server_->display());
    ASSERT_TRUE(client_->ok());
    app_.env()["DISPLAY"] = server_->display();
    app_.env()["WAYLAND_DISPLAY"] = "";
    client_->move_pointer(0, SCREEN_HEIGHT - 1);  // away from the window
  }

  // Waits for the program's window; viewable says whether it must also be shown.
  std::optional<Window> wait_for_window(bool viewable) {
    std::optional<Window> window;
    wait_until([&] {
      if (!app_.running()) return true;
      window = client_->find_window(WINDOW_CLASS);
      if (!window) return false;
      const auto info = client_->info(*window);
      return info && info->viewable == viewable;
    });
    return window;
  }

  // How many bar pixels on the screen differ from the bar painted into an image with the fill
  // found on the screen.
  int bar_differences(Window window, int dpi) {
    const XWindowInfo info = *client_->info(window);
    const int height = title_bar_metrics(dpi).height;
    const std::vector<uint32_t> screen = client_->capture(info.x, info.y, info.width, height);
    if (screen.size() != static_cast<size_t>(info.width) * height) return -1;
    const std::vector<uint32_t> painted =
        painted_title_bar(dpi, info.width, CaptionButton::none, screen[0]);
    int differing = 0;
    for (std::size_t i = 0; i < painted.size(); ++i) {
      if (screen[i] != painted[i]) ++differing;
    }
    return differing;
  }

  // The window is painted after it is mapped; waits until the bar on the screen is complete.
  void expect_bar_on_screen(Window window, int dpi) {
    int differing = -1;
    EXPECT_TRUE(wait_until([&] { return (differing = bar_differences(window, dpi)) == 0; }))
        << differing << " bar pixels differ from the painted bar at " << dpi << " dpi";
  }

  std::unique_ptr<PrivateXServer> server_;
  std::unique_ptr<XClient> client_;
  AppProcess app_;
};

TEST_F(WindowAppTest, StartsCentredAndShownWithTitleAndIcon) {
  ASSERT_TRUE(app_.start());
  const auto window = wait_for_window(true);
  ASSERT_TRUE(window) << app_.stderr_text();
  const XWindowInfo info = *client_->info(*window);
  EXPECT_EQ(info.x, (SCREEN_WIDTH - 514) / 2);
  EXPECT_EQ(info.y, (SCREEN_HEIGHT - 442) / 2);
  EXPECT_EQ(info.width, 514);
  EXPECT_EQ(info.height, 442);
  EXPECT_EQ(client_->title(*window), "Telvana Print-to-Fax");
  const std::vector<int> icons = client_->icon_sizes(*window);
  for (int size : {16, 32, 48, 256}) {
    EXPECT_NE(std::find(icons.begin(), icons.end(), size), icons.end()) << "icon " << size;
  }
  expect_bar_on_screen(*window, 96);
  const auto cross = client_->capture(info.x + 486, info.y + 9, 11, 11);
  EXPECT_EQ(cross[0], GLYPH_COLOUR);             // (486, 9)
  EXPECT_EQ(cross[5 * 11 + 5], GLYPH_COLOUR);    // (491, 14)
  EXPECT_EQ(cross[10 * 11 + 10], GLYPH_COLOUR);  // (496, 19)
  app_.stop(SIGTERM);
}

TEST_F(WindowAppTest, HiddenStartKeepsTheWindowUnmapped) {
  ASSERT_TRUE(app_.start({"--hidden"}));
  const auto window = wait_for_window(false);
  ASSERT_TRUE(window) << app_.stderr_text();
  ASSERT_TRUE(wait_until([&] { return app_.log().find("Starting. ui=") != std::string::npos; }));
  EXPECT_FALSE(client_->info(*window)->viewable);
  EXPECT_TRUE(app_.running());
  app_.stop(SIGTERM);
}

TEST_F(WindowAppTest, CloseButtonHidesTheWindowAndThePrinterGoesOn) {
  ASSERT_TRUE(app_.start_and_wait_for_printer()) << app_.log();
  const auto window = wait_for_window(true);
  ASSERT_TRUE(window);
  const XWindowInfo info = *client_->info(*window);
  client_->click(info.x + 491, info.y + 14);
  ASSERT_TRUE(wait_until([&] { return !client_->info(*window)->viewable; }));
  EXPECT_TRUE(app_.running());
  int status = -1;
  run_command("ipptool -q ipp://localhost:" + std::to_string(PRINTER_PORT) +
                  "/ipp/print get-printer-attributes.test 2>&1",
              &status);
  EXPECT_EQ(status, 0) << "the printer does not answer IPP";
  app_.stop(SIGTERM);
}

TEST_F(WindowAppTest, WindowAndBarScaleWithXftDpi) {
  client_->set_resources("Xft.dpi:\t144\n");
  ASSERT_TRUE(app_.start());
  const auto window = wait_for_window(true);
  ASSERT_TRUE(window) << app_.stderr_text();
  const XWindowInfo info = *client_->info(*window);
  EXPECT_EQ(info.width, 771);
  EXPECT_EQ(info.height, 663);
  EXPECT_EQ(info.x, (SCREEN_WIDTH - 771) / 2);
  EXPECT_EQ(info.y, (SCREEN_HEIGHT - 663) / 2);
  expect_bar_on_screen(*window, 144);
  EXPECT_EQ(client_->capture(info.x + 736, info.y + 21, 1, 1)[0], GLYPH_COLOUR);
  EXPECT_EQ(client_->capture(info.x + 659, info.y + 22, 1, 1)[0], GLYPH_COLOUR);
  app_.stop(SIGTERM);
}

TEST_F(WindowAppTest, LosingTheDisplayEndsTheProgramWithCodeZero) {
  ASSERT_TRUE(app_.start());
  const auto window = wait_for_window(true);
  ASSERT_TRUE(window);
  expect_bar_on_screen(*window, 96);  // running and painted, not still starting up
  client_.reset();
  server_->kill_now();
  EXPECT_EQ(app_.wait_exit(std::chrono::seconds(30)), 0) << app_.stderr_text();
  EXPECT_NE(app_.log().find("[window] The display connection closed"), std::string::npos);
}

TEST(WindowAppNoDisplayTest, WithoutADisplayTheProgramSaysSoAndExitsWithCodeOne) {
  AppProcess app;
  app.env()["DISPLAY"] = "";
  app.env()["WAYLAND_DISPLAY"] = "";
  ASSERT_TRUE(app.start());
  EXPECT_EQ(app.wait_exit(std::chrono::seconds(30)), 1);
  EXPECT_NE(app.stderr_text().find("cannot open the display"), std::string::npos)
      << app.stderr_text();
  EXPECT_NE(app.log().find("[window] Cannot open the display"), std::string::npos) << app.log();
}

}  // namespace
