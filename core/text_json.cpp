// Flat JSON lookup, the JSON and script escapes, and the joining of the texts built of them.
//
// The escapes size their output up front (twice the input) and grow it at least twofold when
// needed, so the input is read once. Units that need no escape are moved sixteen at a time.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/text.h"

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

// The lanes of a comparison mask as bits, lane 0 in bit 0.
unsigned lane_bits(Block mask) {
  unsigned bits = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t halves[2];
    std::memcpy(halves, &mask, sizeof halves);
    for (int half = 0; half < 2; ++half) {
      // One bit per 16-bit lane, gathered from bits 0, 16, 32 and 48 into bits 0 to 3.
      const std::uint64_t x = halves[half] & 0x0001000100010001u;
      bits |= static_cast<unsigned>((x | x >> 15 | x >> 30 | x >> 45) & 0xF) << (4 * half);
    }
  } else {
    for (std::size_t lane = 0; lane < BLOCK_UNITS; ++lane) bits |= (mask[lane] & 1u) << lane;
  }
  return bits;
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

// For each ASCII unit, the letter that follows the backslash in its two-unit escape; 0 when the
// unit has none (it is then written as \uXXXX if it must be escaped).
struct PairLetters {
  char16_t letter[128] = {};
};

constexpr PairLetters pair_letters(bool with_tab, char16_t quote) {
  PairLetters table;
  table.letter[u'\n'] = u'n';
  table.letter[u'\r'] = u'r';
  table.letter[u'\\'] = u'\\';
  table.letter[quote] = quote;
  if (with_tab) table.letter[u'\t'] = u't';
  return table;
}

// Writes the escape of a unit that Rule says must be escaped; returns the units written.
template <typename Rule>
std::size_t write_escape(char16_t* out, char16_t unit) {
  if (unit < 128 && Rule::PAIRS.letter[unit]) {
    out[0] = u'\\';
    out[1] = Rule::PAIRS.letter[unit];
    return 2;
  }
  return write_unicode_escape(out, unit);
}

// Units a JSON string literal may not hold raw, plus everything outside printable ASCII.
struct QuoteRule {
  static constexpr PairLetters PAIRS = pair_letters(true, u'"');
  static Block special(Block b) {
    // b - 32 wraps below 32, so one unsigned comparison finds both ends of printable ASCII.
    return ((b - splat(32)) > splat(94)) | (b == splat(u'"')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u < 32 || u > 126 || u == u'"' || u == u'\\'; }
};

// Units that may not stand raw between the double quotes of JSON text. Control characters are
// escaped too: JSON text holding them raw is refused by every JSON reader, the page's included.
struct JsonEscapeRule {
  static constexpr PairLetters PAIRS = pair_letters(true, u'"');
  static Block special(Block b) {
    return (b < splat(32)) | (b == splat(u'"')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u < 32 || u == u'"' || u == u'\\'; }
};

// Units that may not stand raw between the single quotes of a script literal.
struct JsEscapeRule {
  static constexpr PairLetters PAIRS = pair_letters(false, u'\'');
  static Block special(Block b) {
    return (b == splat(u'\n')) | (b == splat(u'\r')) | (b == splat(u'\'')) | (b == splat(u'\\'));
  }
  static bool special(char16_t u) { return u == u'\n' || u == u'\r' || u == u'\'' || u == u'\\'; }
};

// Units of input handled together, and the longest text they turn into (\uXXXX for each unit)
// with one more chunk stored past it.
constexpr std::size_t CHUNK_BLOCKS = 2;
constexpr std::size_t CHUNK_UNITS = CHUNK_BLOCKS * BLOCK_UNITS;
constexpr std::size_t ROOM = 7 * CHUNK_UNITS;

// Writes unit, escaped when Rule says it must be; returns the units written. For the last units
// of a text, too few to fill a chunk.
template <typename Rule>
std::size_t write_unit(char16_t* out, char16_t unit) {
  if (!Rule::special(unit)) {
    *out = unit;
    return 1;
  }
  return write_escape<Rule>(out, unit);
}

// Makes room in out for adding units, having escaped consumed of total input units. When it
// must grow, it grows at least twofold, and at once to the size the text escaped so far
// projects for the whole text, so a text of many \uXXXX escapes is not copied again and again.
void grow_for(std::u16string& out, std::size_t adding, std::size_t consumed, std::size_t total) {
  const std::size_t needed = out.size() + adding;
  if (needed <= out.capacity()) return;
  const double projected = static_cast<double>(needed) * static_cast<double>(total) /
                           static_cast<double>(consumed == 0 ? 1 : consumed);
  out.reserve(std::max(out.capacity() * 2, static_cast<std::size_t>(projected * 1.0625) + ROOM));
}

// Units of output gathered on the stack before they are appended to the result.
constexpr std::size_t STAGE_UNITS = 2048;

// Appends the escape of in to out. Output is gathered in a stack buffer, where a chunk of input
// can be stored before it is known to be clean, so that clean text costs one store per chunk.
template <typename Rule>
void escape_append(std::u16string& out, std::u16string_view in) {
  char16_t stage[STAGE_UNITS];
  std::size_t staged = 0;
  const char16_t* src = in.data();
  const char16_t* const end = src + in.size();
  while (src < end) {
    if (staged + ROOM > STAGE_UNITS) {
      grow_for(out, staged, static_cast<std::size_t>(src - in.data()), in.size());
      out.append(stage, staged);
      staged = 0;
    }
    if (static_cast<std::size_t>(end - src) >= CHUNK_UNITS) {
      // A chunk of blocks at a time, stored before it is checked.
      std::memcpy(stage + staged, src, CHUNK_UNITS * sizeof(char16_t));
      Block masks[CHUNK_BLOCKS];
      Block any{};
      for (std::size_t i = 0; i < CHUNK_BLOCKS; ++i) {
        masks[i] = Rule::special(load_block(src + i * BLOCK_UNITS));
        any |= masks[i];
      }
      if (!any_lane(any)) {
        src += CHUNK_UNITS;
        staged += CHUNK_UNITS;
        continue;
      }
      // For each special unit: keep the clean units before it, write its escape, and store the
      // rest of the chunk again after the escape: from the input itself when a whole chunk
      // follows, otherwise from a padded copy.
      char16_t padded[2 * CHUNK_UNITS];
      const char16_t* units = src;
      if (static_cast<std::size_t>(end - src) < 2 * CHUNK_UNITS) {
        std::memcpy(padded, src, CHUNK_UNITS * sizeof(char16_t));
        std::memset(padded + CHUNK_UNITS, 0, CHUNK_UNITS * sizeof(char16_t));
        units = padded;
      }
      std::size_t lane = 0;
      std::uint32_t special = 0;
      for (std::size_t i = 0; i < CHUNK_BLOCKS; ++i)
        special |= lane_bits(masks[i]) << (i * BLOCK_UNITS);
      for (std::uint32_t bits = special; bits; bits &= bits - 1) {
        const std::size_t next = std::countr_zero(bits);
        staged += next - lane;
        staged += write_escape<Rule>(stage + staged, units[next]);
        lane = next + 1;
        std::memcpy(stage + staged, units + lane, CHUNK_UNITS * sizeof(char16_t));
      }
      staged += CHUNK_UNITS - lane;
      src += CHUNK_UNITS;
      continue;
    }
    staged += write_unit<Rule>(stage + staged, *src++);
  }
  out.append(stage, staged);
}

// Escapes text under Rule into a fresh string with room for (2 x length + extra) units to start
// with; appending beyond that doubles it.
template <typename Rule>
std::u16string escape(std::u16string_view text, std::size_t extra, char16_t quote) {
  std::u16string out;
  out.reserve(2 * text.size() + extra);
  if (quote) out.push_back(quote);
  escape_append<Rule>(out, text);
  if (quote) out.push_back(quote);
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
    const Block found = (block == quote) | (block == backslash);
    if (any_lane(found))
      return static_cast<std::size_t>(p - begin) + std::countr_zero(lane_bits(found));
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

  std::u16string value;
  value.reserve(raw.size());
  std::size_t in = 0;
  while (in < raw.size()) {
    const std::size_t next = find_quote_or_backslash(raw, in);
    value.append(raw.substr(in, next - in));
    in = next;
    if (in >= raw.size()) break;
    if (raw[in] == u'\\' && in + 1 < raw.size()) {
      value.push_back(unescaped(raw[in + 1]));
      in += 2;
    } else {
      // A backslash as the very last unit of an unterminated value is copied unchanged.
      value.push_back(raw[in++]);
    }
  }
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

std::u16string join_text(std::initializer_list<std::u16string_view> pieces) {
  std::size_t length = 0;
  for (const std::u16string_view piece : pieces) length += piece.size();
  std::u16string joined;
  joined.reserve(length);
  for (const std::u16string_view piece : pieces) joined.append(piece);
  return joined;
}
