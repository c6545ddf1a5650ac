// The window's size arithmetic: logical sizes, DPI scaling and where the window goes.
#pragma once

// A size in logical pixels; the height includes the title bar.
struct LogicalSize {
  int width;
  int height;
};

// A window rectangle on the screen in device pixels.
struct WindowRect {
  int x;
  int y;
  int width;
  int height;
};

// The size the window is created with, and the logical size it keeps until the page first
// asks for a layout.
inline constexpr LogicalSize CREATION_SIZE{514, 442};
inline constexpr LogicalSize INITIAL_LOGICAL_SIZE{514, 414};

// The logical window size for a page area of width x height (the title bar added below it).
LogicalSize logical_size_for_page(int width, int height);

// size scaled to device pixels at dpi.
LogicalSize scale_size(LogicalSize size, int dpi);

// A width x height rectangle centred in the screen area (integer division).
WindowRect centred_rect(const WindowRect& screen, int width, int height);

// current resized to width x height with its left and bottom edges kept.
WindowRect anchor_bottom_left(const WindowRect& current, int width, int height);

// The window's DPI from the display's scale factor and the Xft resolution in 1/1024 dpi
// (0 or less: the default of 96): 96 x scale x (Xft dpi / 96), rounded.
int dpi_from_settings(int scale_factor, int xft_dpi_1024);
