// The window's size arithmetic: logical sizes, DPI scaling and where the window goes.
#include "window/window_layout.h"

#include <algorithm>

#include "window/title_bar.h"

LogicalSize logical_size_for_page(int width, int height) {
  return LogicalSize{width, height + TITLE_BAR_HEIGHT};
}

LogicalSize scale_size(LogicalSize size, int dpi) {
  return LogicalSize{scale_for_dpi(size.width, dpi), scale_for_dpi(size.height, dpi)};
}

WindowRect centred_rect(const WindowRect& screen, int width, int height) {
  return WindowRect{screen.x + (screen.width - width) / 2, screen.y + (screen.height - height) / 2,
                    width, height};
}

WindowRect anchor_bottom_left(const WindowRect& current, int width, int height) {
  return WindowRect{current.x, current.y + current.height - height, width, height};
}

int dpi_from_settings(int scale_factor, int xft_dpi_1024) {
  const long long scale = std::max(1, scale_factor);
  if (xft_dpi_1024 <= 0) return static_cast<int>(96 * scale);
  return static_cast<int>((scale * xft_dpi_1024 + 512) / 1024);
}
