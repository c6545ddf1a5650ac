// UTF-8 <-> UTF-16 conversion (malformed input converts to U+FFFD instead of failing), and
// character escapes of other formats.
#include <algorithm>

#include "core/text.h"

namespace {

constexpr char16_t REPLACEMENT = 0xFFFD;

// Appends one code point as UTF-16.
void append_utf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

// Appends one code point as UTF-8.
void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Re-encodes in, one code point at a time; a step that does not decode becomes U+FFFD.
template <class Out, class In>
Out transcode(In in, TextStep (*decode)(In, std::size_t), void (*append)(Out&, char32_t)) {
  Out out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    const TextStep step = decode(in, i);
    append(out, step.valid ? step.code_point : REPLACEMENT);
    i += step.length;
  }
  return out;
}

}  // namespace

TextStep decode_utf8_at(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {lead, 1, true};
  // Sequence length and the allowed range of the second byte (rejects overlongs and
  // surrogates); a malformed sequence ends at its maximal invalid subpart.
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {0, 1, false};
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size()) return {0, k, false};
    const auto byte = static_cast<unsigned char>(text[i + k]);
    if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF)) return {0, k, false};
    cp = (cp << 6) | (byte & 0x3F);
  }
  return {cp, length, true};
}

TextStep decode_utf16_at(std::u16string_view text, std::size_t i) {
  const char16_t unit = text[i];
  if (unit < 0xD800 || unit > 0xDFFF) return {unit, 1, true};
  if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
    return {0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2, true};
  }
  return {0, 1, false};
}

std::optional<std::u16string> utf8_to_wide(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  return transcode<std::u16string>(*text, decode_utf8_at, append_utf16);
}

std::optional<std::string> wide_to_utf8(std::optional<std::u16string_view> text) {
  if (!text) return std::nullopt;
  return transcode<std::string>(*text, decode_utf16_at, append_utf8);
}

std::string escape_characters(std::string_view text,
                              std::initializer_list<CharacterEscape> escapes) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const CharacterEscape* escape = std::find_if(
        escapes.begin(), escapes.end(), [c](const CharacterEscape& e) { return e.character == c; });
    if (escape != escapes.end()) {
      escaped.append(escape->replacement);
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}
