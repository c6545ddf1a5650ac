// Reading the page's "#RRGGBB" background text.
#include "window/window_colour.h"

#include <algorithm>

namespace {

constexpr int FIELD_WIDTH = 6;

bool is_blank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads one "%06x" field from the start of text; 0 when nothing can be read.
uint32_t scan_hex_field(std::u16string_view text) {
  size_t pos = 0;
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  const size_t end = std::min(text.size(), pos + FIELD_WIDTH);  // blanks do not count
  bool negative = false;
  if (pos < end && (text[pos] == u'+' || text[pos] == u'-')) {
    negative = text[pos] == u'-';
    ++pos;
  }
  if (pos + 1 < end && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
    pos += 2;
  }
  uint32_t value = 0;
  for (; pos < end && hex_digit(text[pos]) >= 0; ++pos) {
    value = value * 16 + static_cast<uint32_t>(hex_digit(text[pos]));
  }
  return negative ? 0u - value : value;
}

}  // namespace

std::optional<uint32_t> parse_window_background(std::optional<std::u16string_view> text) {
  if (!text || text->size() < 7 || (*text)[0] != u'#') return std::nullopt;
  return scan_hex_field(text->substr(1)) & 0xFFFFFF;
}
