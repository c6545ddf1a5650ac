#include "tests/window/painted_bar.h"

#include <cstring>

std::vector<uint32_t> surface_pixels(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  std::vector<uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t pixel;
      std::memcpy(&pixel, data + y * stride + x * 4, sizeof pixel);
      pixels[static_cast<std::size_t>(y) * width + x] = pixel & 0xFFFFFF;
    }
  }
  return pixels;
}

std::vector<uint32_t> painted_title_bar(int dpi, int width, CaptionButton hovered,
                                        uint32_t background) {
  const int height = title_bar_metrics(dpi).height;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  paint_title_bar(cr, dpi, width, hovered, background);
  cairo_destroy(cr);
  std::vector<uint32_t> pixels = surface_pixels(surface);
  cairo_surface_destroy(surface);
  return pixels;
}
