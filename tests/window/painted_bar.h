// The title bar painted into an image, as the screen should show it.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

#include "window/title_bar.h"

// The pixels (0xRRGGBB, row by row) of an RGB24 image surface.
std::vector<uint32_t> surface_pixels(cairo_surface_t* surface);

// The pixels (0xRRGGBB, row by row) of the bar painted for a client of width at dpi.
std::vector<uint32_t> painted_title_bar(int dpi, int width, CaptionButton hovered,
                                        uint32_t background);
