// The self-drawn title bar: its metrics at a DPI, hit testing and painting.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <optional>

// A caption button of the title bar.
enum class CaptionButton { none = 0, close = 1, minimize = 2 };

// Title-bar metrics in logical pixels (96 dpi).
inline constexpr int TITLE_BAR_HEIGHT = 28;
inline constexpr int CAPTION_BUTTON_WIDTH = 46;
inline constexpr int GLYPH_HALF_SIZE = 5;
inline constexpr int GLYPH_PEN_WIDTH = 1;

// Colours as 0xRRGGBB.
inline constexpr uint32_t GLYPH_COLOUR = 0x323232;
inline constexpr uint32_t CLOSE_HOVER_FILL = 0xE81123;
inline constexpr uint32_t CLOSE_HOVER_GLYPH = 0xFFFFFF;
inline constexpr uint32_t MINIMIZE_HOVER_FILL = 0xE5E5E5;
inline constexpr uint32_t NO_BACKGROUND_FILL = 0xFFFFFF;

// value x dpi / 96, rounded half away from zero.
int scale_for_dpi(int value, int dpi);

// The title-bar metrics in device pixels at one DPI.
struct TitleBarMetrics {
  int height;
  int button_width;
  int glyph_half;
  int pen_width;  // at least 1
};

// The metrics scaled to dpi.
TitleBarMetrics title_bar_metrics(int dpi);

// The caption button under the point (x, y), in device pixels of a client area client_width
// wide, at dpi; none outside the bar and left of the buttons.
CaptionButton caption_button_at(int dpi, int client_width, int x, int y);

// Paints the bar across a client area client_width device pixels wide into cr (one unit per
// device pixel, origin at the client area's top-left): the fill in background (0xRRGGBB, white
// when absent), then the minimize and close buttons with hovered lit.
void paint_title_bar(cairo_t* cr, int dpi, int client_width, CaptionButton hovered,
                     std::optional<uint32_t> background);
