#include "window/title_bar.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

TEST(ScaleForDpi, RoundsHalfAwayFromZero) {
  struct Case {
    int value, dpi, expected;
  };
  const Case cases[] = {{28, 96, 28},    {46, 120, 58},   {5, 144, 8},
                        {1, 144, 2},     {1, 120, 1},     {514, 192, 1028},
                        {442, 144, 663}, {-46, 120, -58}, {0, 144, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(scale_for_dpi(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
  }
}

TEST(TitleBarMetrics, ScaleWithTheDpi) {
  struct Case {
    int dpi, height, button_width, glyph_half, pen_width;
  };
  const Case cases[] = {{96, 28, 46, 5, 1},
                        {120, 35, 58, 6, 1},
                        {144, 42, 69, 8, 2},
                        {192, 56, 92, 10, 2},
                        {48, 14, 23, 3, 1}};
  for (const Case& c : cases) {
    const TitleBarMetrics m = title_bar_metrics(c.dpi);
    EXPECT_EQ(m.height, c.height) << c.dpi;
    EXPECT_EQ(m.button_width, c.button_width) << c.dpi;
    EXPECT_EQ(m.glyph_half, c.glyph_half) << c.dpi;
    EXPECT_EQ(m.pen_width, c.pen_width) << c.dpi;
  }
}

TEST(CaptionButtonAt, FindsButtonsAtTheBarAndButtonEdges) {
  struct Case {
    int dpi, width, x, y;
    CaptionButton expected;
  };
  const auto none = CaptionButton::none, close = CaptionButton::close,
             minimize = CaptionButton::minimize;
  const Case cases[] = {
      // 96 dpi, 514 wide: minimize 422-467, close 468-513, bar rows 0-27.
      {96, 514, 0, 0, none},
      {96, 514, 421, 14, none},
      {96, 514, 422, 0, minimize},
      {96, 514, 467, 27, minimize},
      {96, 514, 468, 0, close},
      {96, 514, 513, 27, close},
      {96, 514, 513, 28, none},
      {96, 514, 468, -1, none},
      {96, 514, 440, 300, none},
      // 120 dpi, 643 wide: bar 35 high, buttons 58 wide.
      {120, 643, 526, 10, none},
      {120, 643, 527, 10, minimize},
      {120, 643, 584, 34, minimize},
      {120, 643, 585, 34, close},
      {120, 643, 642, 0, close},
      {120, 643, 585, 35, none},
      // 144 dpi, 771 wide: bar 42 high, buttons 69 wide.
      {144, 771, 632, 0, none},
      {144, 771, 633, 41, minimize},
      {144, 771, 701, 0, minimize},
      {144, 771, 702, 41, close},
      {144, 771, 770, 41, close},
      {144, 771, 702, 42, none},
      // Another width moves the buttons with the right edge.
      {96, 424, 332, 5, minimize},
      {96, 424, 331, 5, none},
      {96, 424, 378, 5, close},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(caption_button_at(c.dpi, c.width, c.x, c.y), c.expected)
        << c.dpi << " dpi, width " << c.width << " at (" << c.x << ", " << c.y << ")";
  }
}

// The bar painted into an image one row taller than the bar, pre-filled with a marker colour.
class PaintedBar {
 public:
  PaintedBar(int dpi, int width, CaptionButton hovered, std::optional<uint32_t> background)
      : height_(title_bar_metrics(dpi).height + 1),
        surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height_),
                 cairo_surface_destroy) {
    cairo_t* cr = cairo_create(surface_.get());
    cairo_set_source_rgb(cr, 0, 1, 0);
    cairo_paint(cr);
    paint_title_bar(cr, dpi, width, hovered, background);
    cairo_destroy(cr);
    cairo_surface_flush(surface_.get());
  }
  uint32_t at(int x, int y) const {
    const unsigned char* data = cairo_image_surface_get_data(surface_.get());
    const int stride = cairo_image_surface_get_stride(surface_.get());
    return *reinterpret_cast<const uint32_t*>(data + y * stride + x * 4) & 0xFFFFFF;
  }
  int count(uint32_t colour, int left, int right) const {
    int n = 0;
    for (int y = 0; y < height_; ++y)
      for (int x = left; x < right; ++x) n += at(x, y) == colour;
    return n;
  }

 private:
  int height_;
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

constexpr uint32_t MARKER = 0x00FF00;
constexpr uint32_t BACKGROUND = 0xFAFBFC;

struct PixelCase {
  int x, y;
  uint32_t colour;
};

void expect_pixels(const PaintedBar& bar, const std::vector<PixelCase>& cases, const char* what) {
  for (const PixelCase& c : cases) {
    EXPECT_EQ(bar.at(c.x, c.y), c.colour) << what << " at (" << c.x << ", " << c.y << ")";
  }
}

TEST(PaintTitleBar, DrawsTheGlyphsAt96Dpi) {
  const PaintedBar bar(96, 514, CaptionButton::none, BACKGROUND);
  expect_pixels(bar,
                {// the fill across the bar, nothing below it
                 {0, 0, BACKGROUND},
                 {300, 27, BACKGROUND},
                 {513, 0, BACKGROUND},
                 {0, 28, MARKER},
                 {491, 28, MARKER},
                 // the cross: columns 486-496, rows 9-19, centre (491, 14)
                 {486, 9, GLYPH_COLOUR},
                 {496, 19, GLYPH_COLOUR},
                 {496, 9, GLYPH_COLOUR},
                 {486, 19, GLYPH_COLOUR},
                 {491, 14, GLYPH_COLOUR},
                 {489, 12, GLYPH_COLOUR},
                 {485, 8, BACKGROUND},
                 {497, 20, BACKGROUND},
                 {497, 8, BACKGROUND},
                 {485, 20, BACKGROUND},
                 {491, 13, BACKGROUND},
                 // the dash: columns 440-450 on row 14
                 {440, 14, GLYPH_COLOUR},
                 {450, 14, GLYPH_COLOUR},
                 {445, 14, GLYPH_COLOUR},
                 {439, 14, BACKGROUND},
                 {451, 14, BACKGROUND},
                 {445, 13, BACKGROUND},
                 {445, 15, BACKGROUND}},
                "96 dpi");
  EXPECT_EQ(bar.count(GLYPH_COLOUR, 468, 514), 21);  // two 11-pixel diagonals sharing the centre
  EXPECT_EQ(bar.count(GLYPH_COLOUR, 422, 468), 11);
  EXPECT_EQ(bar.count(GLYPH_COLOUR, 0, 422), 0);
}

TEST(PaintTitleBar, LightsTheHoveredButtonAt96Dpi) {
  const PaintedBar close(96, 514, CaptionButton::close, BACKGROUND);
  expect_pixels(close,
                {{468, 0, CLOSE_HOVER_FILL},
                 {513, 27, CLOSE_HOVER_FILL},
                 {467, 0, BACKGROUND},
                 {491, 14, CLOSE_HOVER_GLYPH},
                 {486, 9, CLOSE_HOVER_GLYPH},
                 {496, 19, CLOSE_HOVER_GLYPH},
                 {440, 14, GLYPH_COLOUR},
                 {430, 2, BACKGROUND},
                 {470, 28, MARKER}},
                "close hovered");
  const PaintedBar minimize(96, 514, CaptionButton::minimize, BACKGROUND);
  expect_pixels(minimize,
                {{422, 0, MINIMIZE_HOVER_FILL},
                 {467, 27, MINIMIZE_HOVER_FILL},
                 {421, 0, BACKGROUND},
                 {468, 0, BACKGROUND},
                 {445, 14, GLYPH_COLOUR},
                 {491, 14, GLYPH_COLOUR}},
                "minimize hovered");
}

TEST(PaintTitleBar, DrawsTheGlyphsAt144Dpi) {
  // 771 wide: close 702-770 centred on (736, 21), minimize 633-701 centred on column 667;
  // half size 8 and a pen of 2 pixels.
  const PaintedBar bar(144, 771, CaptionButton::none, BACKGROUND);
  expect_pixels(bar,
                {{0, 41, BACKGROUND},
                 {0, 42, MARKER},
                 {728, 13, GLYPH_COLOUR},
                 {729, 14, GLYPH_COLOUR},
                 {736, 21, GLYPH_COLOUR},
                 {745, 30, GLYPH_COLOUR},
                 {744, 13, GLYPH_COLOUR},
                 {728, 30, GLYPH_COLOUR},
                 {727, 12, BACKGROUND},
                 {746, 31, BACKGROUND},
                 {736, 18, BACKGROUND},
                 {659, 21, GLYPH_COLOUR},
                 {659, 22, GLYPH_COLOUR},
                 {676, 22, GLYPH_COLOUR},
                 {658, 21, BACKGROUND},
                 {677, 21, BACKGROUND},
                 {667, 20, BACKGROUND},
                 {667, 23, BACKGROUND}},
                "144 dpi");
  EXPECT_EQ(bar.count(GLYPH_COLOUR, 633, 702), 18 * 2);  // the dash: 18 columns, 2 rows
  const PaintedBar hovered(144, 771, CaptionButton::close, BACKGROUND);
  expect_pixels(hovered,
                {{702, 0, CLOSE_HOVER_FILL},
                 {770, 41, CLOSE_HOVER_FILL},
                 {701, 0, BACKGROUND},
                 {736, 21, CLOSE_HOVER_GLYPH},
                 {702, 42, MARKER}},
                "144 dpi, close hovered");
}

TEST(PaintTitleBar, FillsWhiteWithoutABackgroundAndUsesThePagesColour) {
  const PaintedBar white(96, 514, CaptionButton::none, std::nullopt);
  EXPECT_EQ(white.at(10, 10), NO_BACKGROUND_FILL);
  const PaintedBar blue(96, 514, CaptionButton::minimize, 0x1E90FF);
  EXPECT_EQ(blue.at(10, 10), 0x1E90FFu);
  EXPECT_EQ(blue.at(470, 2), 0x1E90FFu);
  EXPECT_EQ(blue.at(430, 2), MINIMIZE_HOVER_FILL);
}

}  // namespace
