// Reading the page's "#RRGGBB" background text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The window's background at creation, 0xRRGGBB.
inline constexpr uint32_t INITIAL_BACKGROUND = 0xFAFBFC;

// The colour (0xRRGGBB) that text names, or nullopt when the text is to be ignored: absent,
// not starting with '#', or shorter than 7 characters. After the '#' up to 6 characters are
// read as "%06x" scanning reads them (leading blanks, a sign and a 0x prefix accepted, reading
// stops at the first non-hex character); when nothing is read the colour is black.
std::optional<uint32_t> parse_window_background(std::optional<std::u16string_view> text);
