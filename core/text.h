// Reading and writing the bridge's text: flat JSON lookup, JSON and script escapes, UTF-8/UTF-16.
//
// These are the only JSON and escaping routines of the system. Every function is pure and
// re-entrant. Malformed UTF-8 and unpaired surrogates never make a conversion fail: each
// offending sequence converts to U+FFFD.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// Value of the first occurrence of "key" in json when a string follows it (after any run of
// tab, space and colon), unescaped (\n \r \t, otherwise the escaped unit itself; no \u decoding).
// Absent when either input is absent, the key is not found, or no string follows it.
std::optional<std::u16string> json_get_string(std::optional<std::u16string_view> json,
                                              std::optional<std::u16string_view> key);

// A complete JSON string literal of printable ASCII, quotes included; "null" for absent.
std::u16string json_quote(std::optional<std::u16string_view> text);

// text escaped for the inside of a double-quoted JSON string; "" for absent. Line feed, carriage
// return, tab, '"' and '\\' take their short escapes and other controls \u00XX, so that the
// result is valid JSON for the page's JSON.parse; all other text is copied unchanged.
std::u16string json_escape(std::optional<std::u16string_view> text);

// text escaped for the inside of a single-quoted script literal; "" for absent.
std::u16string js_escape(std::optional<std::u16string_view> text);

// The pieces joined in order, in one allocation.
std::u16string join_text(std::initializer_list<std::u16string_view> pieces);

// A character to replace, and the text that stands for it.
struct CharacterEscape {
  char character;
  std::string_view replacement;
};

// text with each character that escapes names replaced by its text; everything else as it is.
// For the escapes of other formats (key files, multipart headers).
std::string escape_characters(std::string_view text,
                              std::initializer_list<CharacterEscape> escapes);

// UTF-8 to UTF-16; absent for absent input.
std::optional<std::u16string> utf8_to_wide(std::optional<std::string_view> text);

// UTF-16 to UTF-8; absent for absent input.
std::optional<std::string> wide_to_utf8(std::optional<std::u16string_view> text);

// One step of decoding: the code point at a position and how many units it takes. For a
// malformed sequence valid is false and length covers its maximal invalid subpart (at least 1).
struct TextStep {
  char32_t code_point = 0;
  std::size_t length = 1;
  bool valid = false;
};

// Decodes the UTF-8 sequence at text[i] (i < text.size()). Overlong forms, surrogates and values
// above U+10FFFF are not valid.
TextStep decode_utf8_at(std::string_view text, std::size_t i);

// Decodes the UTF-16 unit or surrogate pair at text[i] (i < text.size()); a lone surrogate is
// not valid.
TextStep decode_utf16_at(std::u16string_view text, std::size_t i);
