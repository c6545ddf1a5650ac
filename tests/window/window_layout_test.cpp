#include "window/window_layout.h"

#include <gtest/gtest.h>

namespace {

void expect_rect(const WindowRect& actual, const WindowRect& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
}

TEST(WindowLayout, PageAreasBecomeWindowSizesWithTheBar) {
  struct Case {
    int width, height;
    LogicalSize expected;
  };
  const Case cases[] = {{514, 414, {514, 442}}, {514, 498, {514, 526}}, {424, 414, {424, 442}}};
  for (const Case& c : cases) {
    const LogicalSize size = logical_size_for_page(c.width, c.height);
    EXPECT_EQ(size.width, c.expected.width);
    EXPECT_EQ(size.height, c.expected.height);
  }
}

TEST(WindowLayout, ResizingKeepsTheLeftAndBottomEdges) {
  // A window whose rectangle ends at screen row 800: "home", then "home-with-banner".
  const WindowRect start{100, 386, 514, 414};
  const WindowRect home = anchor_bottom_left(start, 514, 442);
  expect_rect(home, {100, 358, 514, 442});
  const WindowRect banner = anchor_bottom_left(home, 514, 526);
  expect_rect(banner, {100, 274, 514, 526});
  expect_rect(anchor_bottom_left(banner, 424, 442), {100, 358, 424, 442});
}

TEST(WindowLayout, ScalesAndCentres) {
  const LogicalSize at192 = scale_size({514, 442}, 192);
  EXPECT_EQ(at192.width, 1028);
  EXPECT_EQ(at192.height, 884);
  const LogicalSize at144 = scale_size({514, 442}, 144);
  EXPECT_EQ(at144.width, 771);
  EXPECT_EQ(at144.height, 663);
  expect_rect(centred_rect({0, 0, 1280, 1024}, 514, 442), {383, 291, 514, 442});
  expect_rect(centred_rect({0, 0, 1281, 1025}, 514, 442), {383, 291, 514, 442});
  expect_rect(centred_rect({1920, 0, 1280, 1024}, 771, 663), {2174, 180, 771, 663});
}

TEST(WindowLayout, DpiComesFromScaleAndXftResolution) {
  struct Case {
    int scale, xft, expected;
  };
  const Case cases[] = {{1, -1, 96},      {1, 0, 96},       {1, 98304, 96},
                        {1, 122880, 120}, {1, 147456, 144}, {2, -1, 192},
                        {2, 98304, 192},  {0, -1, 96},      {1, 147000, 144}};
  for (const Case& c : cases) {
    EXPECT_EQ(dpi_from_settings(c.scale, c.xft), c.expected) << c.scale << " " << c.xft;
  }
}

}  // namespace
