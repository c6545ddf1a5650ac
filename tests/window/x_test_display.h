// Private X servers for display tests, and a plain X client that looks at and drives windows
// from outside the program under test.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

// Screen of every private server.
inline constexpr int SCREEN_WIDTH = 1280;
inline constexpr int SCREEN_HEIGHT = 1024;

// An Xvfb of its own for one test (no other test's windows or pointer moves get in the way).
class PrivateXServer {
 public:
  PrivateXServer();
  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // True once the server accepts clients.
  bool ok() const { return !display_.empty(); }
  // The DISPLAY value, ":N".
  const std::string& display() const { return display_; }
  // Ends the server at once, as a crash or a closed session would.
  void kill_now();

 private:
  ChildProcess server_;
  std::string display_;
};

// A window as the X server sees it.
struct XWindowInfo {
  int x;
  int y;
  int width;
  int height;
  bool viewable;
};

// A connection of its own to a display.
class XClient {
 public:
  explicit XClient(const std::string& display);
  ~XClient();
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool ok() const { return display_ != nullptr; }
  Display* display() const { return display_; }

  // The top-level window whose WM_CLASS class is wm_class, if any.
  std::optional<Window> find_window(const std::string& wm_class);
  // Position on the root window, size and map state.
  std::optional<XWindowInfo> info(Window window);
  // The window's title (WM_NAME).
  std::string title(Window window);
  // The sizes (width) of the icons in _NET_WM_ICON.
  std::vector<int> icon_sizes(Window window);

  // Screen pixels as 0xRRGGBB, row by row.
  std::vector<uint32_t> capture(int x, int y, int width, int height);

  // Real pointer input through the XTEST extension.
  void move_pointer(int x, int y);
  void button(int number, bool press);
  void click(int x, int y);

  // The first 32-bit item of a property of the root window (a window, a number), if set.
  std::optional<unsigned long> root_property(const std::string& name);
  // Sends a window manager's client message about window, as pagers and taskbars do.
  void ask_window_manager(Window window, const std::string& message, long first, long second);

  // Replaces the server's resource database (what xrdb loads), e.g. "Xft.dpi:\t144\n".
  void set_resources(const std::string& text);

  // Owns the XSETTINGS selection and publishes Xft/DPI (in 1/1024 dpi); call again to change.
  void publish_xft_dpi(int dpi_1024);

 private:
  bool is_client_leader(Window window);

  Display* display_ = nullptr;
  Window settings_owner_ = 0;
  uint32_t settings_serial_ = 0;
};
