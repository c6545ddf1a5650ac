// Flat JSON lookup and the JSON and script escapes.
//
// The escapes size their output up front and grow it by doubling, so the input is read once.
// Runs of units that need no escape are moved eight at a time: a block is stored unchecked and
// kept only when none of its units needs an escape.
#include <cstdint>
#include <cstring>

#include "bridge/text.h"

namespace {

using Block = std::uint16_t __attribute__((vector_size(16)));
constexpr std::size_t BLOCK_UNITS = sizeof(Block) / sizeof(char16_t);

// Reads eight units from p, which need not be aligned.
Block load_block(const char16_t* p) {
  Block block;
  std::memcpy(&block, p, sizeof block);
  return block;
}

// True when any lane of a comparison mask is set.
bool any_lane(Block mask) {
  std::uint64_t halves[2];
  std::memcpy(halves, &mask, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

Block splat(char16_t unit) {
  return Block{} + static_cast<std::uint16_t>(unit);
}

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// Writes \uXXXX (lowercase hexadecimal) for unit at out; returns the units written.
std::size_t write_unicode_escape(char16_t* out, char16_t unit) {
  out[0] = u'\\';
  out[1] = u'u';
  out[2] = static_cast<char16_t>(HEX_DIGITS[(unit >> 12) & 0xF]);
  out[3] = static_cast<char16_t>(HEX_DIGITS[(unit >> 8) & 0xF]);
  out[4] = static_cast<char16_t>(HEX_DIGITS[(unit >> 4) & 0xF]);
  out[5] = static_cast<char16_t>(HEX_DIGITS[unit & 0xF]);
  return 6;
}

// Writes a backslash and letter at out; returns the units written.
std::size_t write_pair(char16_t* out, char16_t letter) {
  out[0] = u'\\';
  out[1] = letter;
  return 2;
}

// Units a JSON string literal may not hold raw, plus everything outside printable ASCII.
struct QuoteRule {
  static Block special(Block b) {
    // b - 32 wraps below 32, so one unsigned comparison finds both ends of printable ASCII.
    return ((b - splat(32)) > splat(94)) | (b == splat(u'"')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u < 32 || u > 126 || u == u'"' || u == u'\\'; }
  static std::size_t write(char16_t* out, char16_t u) {
    switch (u) {
      case u'\t':
        return write_pair(out, u't');
      case u'\n':
        return write_pair(out, u'n');
      case u'\r':
        return write_pair(out, u'r');
      case u'"':
        return write_pair(out, u'"');
      case u'\\':
        return write_pair(out, u'\\');
      default:
        return write_unicode_escape(out, u);
    }
  }
};

// Units that may not stand raw between the double quotes of JSON text. Control characters are
// escaped too: JSON text holding them raw is refused by every JSON reader, the page's included.
struct JsonEscapeRule {
  static Block special(Block b) {
    return (b < splat(32)) | (b == splat(u'"')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u < 32 || u == u'"' || u == u'\\'; }
  static std::size_t write(char16_t* out, char16_t u) {
    switch (u) {
      case u'\t':
        return write_pair(out, u't');
      case u'\n':
        return write_pair(out, u'n');
      case u'\r':
        return write_pair(out, u'r');
      case u'"':
        return write_pair(out, u'"');
      case u'\\':
        return write_pair(out, u'\\');
      default:
        return write_unicode_escape(out, u);
    }
  }
};

// Units that may not stand raw between the single quotes of a script literal.
struct JsEscapeRule {
  static Block special(Block b) {
    return (b == splat(u'\n')) | (b == splat(u'\r')) | (b == splat(u'\'')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u == u'\n' || u == u'\r' || u == u'\'' || u == u'\\'; }
  static std::size_t write(char16_t* out, char16_t u) {
    switch (u) {
      case u'\n':
        return write_pair(out, u'n');
      case u'\r':
        return write_pair(out, u'r');
      default:
        return write_pair(out, u);
    }
  }
};

// The longest text one input unit turns into (\uXXXX), plus room for a whole stored block.
constexpr std::size_t ROOM = 8;

// Appends the escape of in to out starting at pos and returns the new write position. out is
// grown by doubling whenever fewer than ROOM units are left, so a whole block or the longest
// escape always fits.
template <typename Rule>
std::size_t escape_into(std::u16string& out, std::size_t pos, std::u16string_view in) {
  const char16_t* src = in.data();
  const char16_t* const end = src + in.size();
  while (src < end) {
    if (pos + ROOM >= out.size()) out.resize(out.size() * 2 + ROOM);
    char16_t* dst = out.data() + pos;
    if (static_cast<std::size_t>(end - src) >= BLOCK_UNITS) {
      const Block block = load_block(src);
      if (!any_lane(Rule::special(block))) {
        std::memcpy(dst, src, sizeof block);
        src += BLOCK_UNITS;
        pos += BLOCK_UNITS;
        continue;
      }
    }
    const char16_t unit = *src++;
    if (Rule::special(unit)) {
      pos += Rule::write(dst, unit);
    } else {
      *dst = unit;
      ++pos;
    }
  }
  return pos;
}

// Escapes text under Rule into a fresh string of (2 x length + extra) units to start with.
template <typename Rule>
std::u16string escape(std::u16string_view text, std::size_t extra, char16_t quote) {
  std::u16string out(2 * text.size() + extra, u'\0');
  std::size_t pos = 0;
  if (quote) out[pos++] = quote;
  pos = escape_into<Rule>(out, pos, text);
  if (quote) {
    if (pos >= out.size()) out.resize(pos + 1);
    out[pos++] = quote;
  }
  out.resize(pos);
  return out;
}

// Position of the first double quote or backslash at or after from; text.size() when none.
std::size_t find_quote_or_backslash(std::u16string_view text, std::size_t from) {
  const char16_t* const begin = text.data();
  const char16_t* p = begin + from;
  const char16_t* const end = begin + text.size();
  const Block quote = splat(u'"');
  const Block backslash = splat(u'\\');
  while (end - p >= static_cast<std::ptrdiff_t>(BLOCK_UNITS)) {
    const Block block = load_block(p);
    if (any_lane((block == quote) | (block == backslash))) break;
    p += BLOCK_UNITS;
  }
  while (p < end && *p != u'"' && *p != u'\\') ++p;
  return static_cast<std::size_t>(p - begin);
}

// The unit an escaped unit stands for.
char16_t unescaped(char16_t unit) {
  switch (unit) {
    case u'n':
      return u'\n';
    case u'r':
      return u'\r';
    case u't':
      return u'\t';
    default:
      return unit;
  }
}

}  // namespace

std::optional<std::u16string> json_get_string(std::optional<std::u16string_view> json,
                                              std::optional<std::u16string_view> key) {
  if (!json || !key) return std::nullopt;
  const std::u16string_view text = *json;

  std::u16string pattern;
  pattern.reserve(key->size() + 2);
  pattern.push_back(u'"');
  pattern.append(*key);
  pattern.push_back(u'"');

  // Only the first occurrence counts, wherever it stands.
  std::size_t pos = text.find(pattern);
  if (pos == std::u16string_view::npos) return std::nullopt;
  pos += pattern.size();
  while (pos < text.size() && (text[pos] == u'\t' || text[pos] == u' ' || text[pos] == u':')) {
    ++pos;
  }
  if (pos >= text.size() || text[pos] != u'"') return std::nullopt;
  const std::size_t value_begin = pos + 1;

  // The value ends at the first double quote after an even number of backslashes, or with the
  // text. Reading escapes in pairs from the left finds exactly that quote.
  std::size_t value_end = value_begin;
  bool has_escape = false;
  for (;;) {
    value_end = find_quote_or_backslash(text, value_end);
    if (value_end >= text.size() || text[value_end] == u'"') break;
    has_escape = true;
    value_end += 2;  // the backslash and the unit it escapes
    if (value_end >= text.size()) {
      value_end = text.size();
      break;
    }
  }
  const std::u16string_view raw = text.substr(value_begin, value_end - value_begin);
  if (!has_escape) return std::u16string(raw);

  std::u16string value(raw.size(), u'\0');
  std::size_t out = 0;
  std::size_t in = 0;
  while (in < raw.size()) {
    const std::size_t next = find_quote_or_backslash(raw, in);
    std::memcpy(value.data() + out, raw.data() + in, (next - in) * sizeof(char16_t));
    out += next - in;
    in = next;
    if (in >= raw.size()) break;
    if (raw[in] == u'\\' && in + 1 < raw.size()) {
      value[out++] = unescaped(raw[in + 1]);
      in += 2;
    } else {
      // A backslash as the very last unit of an unterminated value is copied unchanged.
      value[out++] = raw[in++];
    }
  }
  value.resize(out);
  return value;
}

std::u16string json_quote(std::optional<std::u16string_view> text) {
  if (!text) return u"null";
  return escape<QuoteRule>(*text, 3, u'"');
}

std::u16string json_escape(std::optional<std::u16string_view> text) {
  if (!text) return u"";
  return escape<JsonEscapeRule>(*text, 1, 0);
}

std::u16string js_escape(std::optional<std::u16string_view> text) {
  if (!text) return u"";
  return escape<JsEscapeRule>(*text, 1, 0);
}
