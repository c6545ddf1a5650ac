// The self-drawn title bar: its metrics at a DPI, hit testing and painting.
#include "window/title_bar.h"

#include <algorithm>
#include <cstdlib>

int scale_for_dpi(int value, int dpi) {
  const long long product = static_cast<long long>(value) * dpi;
  const long long rounded = (std::llabs(product) + 48) / 96;
  return static_cast<int>(product < 0 ? -rounded : rounded);
}

TitleBarMetrics title_bar_metrics(int dpi) {
  return TitleBarMetrics{
      scale_for_dpi(TITLE_BAR_HEIGHT, dpi), scale_for_dpi(CAPTION_BUTTON_WIDTH, dpi),
      scale_for_dpi(GLYPH_HALF_SIZE, dpi), std::max(1, scale_for_dpi(GLYPH_PEN_WIDTH, dpi))};
}

CaptionButton caption_button_at(int dpi, int client_width, int x, int y) {
  const TitleBarMetrics metrics = title_bar_metrics(dpi);
  if (y < 0 || y >= metrics.height) return CaptionButton::none;
  if (x >= client_width - metrics.button_width) return CaptionButton::close;
  if (x >= client_width - 2 * metrics.button_width) return CaptionButton::minimize;
  return CaptionButton::none;
}

namespace {

void set_colour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

void fill_rect(cairo_t* cr, int left, int top, int right, int bottom, uint32_t rgb) {
  set_colour(cr, rgb);
  cairo_rectangle(cr, left, top, right - left, bottom - top);
  cairo_fill(cr);
}

// A line from (x0, y0) towards (x1, y1), the end pixel excluded, for horizontal and 45-degree
// lines: each pixel on it is stamped with a pen x pen square, so the pixels are exact.
void draw_line(cairo_t* cr, int x0, int y0, int x1, int y1, int pen, uint32_t rgb) {
  set_colour(cr, rgb);
  const int dx = (x1 > x0) - (x1 < x0);
  const int dy = (y1 > y0) - (y1 < y0);
  const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
  const int offset = (pen - 1) / 2;
  for (int i = 0; i < steps; ++i) {
    cairo_rectangle(cr, x0 + i * dx - offset, y0 + i * dy - offset, pen, pen);
  }
  cairo_fill(cr);
}

}  // namespace

void paint_title_bar(cairo_t* cr, int dpi, int client_width, CaptionButton hovered,
                     std::optional<uint32_t> background) {
  const TitleBarMetrics m = title_bar_metrics(dpi);
  const int right = client_width;
  const int cy = m.height / 2;
  const int g = m.glyph_half;

  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  fill_rect(cr, 0, 0, right, m.height, background.value_or(NO_BACKGROUND_FILL));

  const int close_left = right - m.button_width;
  uint32_t close_glyph = GLYPH_COLOUR;
  if (hovered == CaptionButton::close) {
    fill_rect(cr, close_left, 0, right, m.height, CLOSE_HOVER_FILL);
    close_glyph = CLOSE_HOVER_GLYPH;
  }
  const int cx = (close_left + right) / 2;
  draw_line(cr, cx - g, cy - g, cx + g + 1, cy + g + 1, m.pen_width, close_glyph);
  draw_line(cr, cx + g, cy - g, cx - g - 1, cy + g + 1, m.pen_width, close_glyph);

  const int minimize_left = right - 2 * m.button_width;
  if (hovered == CaptionButton::minimize) {
    fill_rect(cr, minimize_left, 0, close_left, m.height, MINIMIZE_HOVER_FILL);
  }
  const int mx = (minimize_left + close_left) / 2;
  draw_line(cr, mx - g, cy, mx + g + 1, cy, m.pen_width, GLYPH_COLOUR);
  cairo_restore(cr);
}
