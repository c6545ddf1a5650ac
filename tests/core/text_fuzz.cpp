// libFuzzer target for the bridge's JSON reader, escapes and conversions: besides memory errors
// (found by the sanitizers), it checks what each function promises of its output.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/text.h"

namespace {

void require(bool holds) {
  if (!holds) std::abort();
}

bool has_control_other_than_tab_lf_cr(std::u16string_view text) {
  for (const char16_t unit : text) {
    if (unit < 32 && unit != u'\t' && unit != u'\n' && unit != u'\r') return true;
  }
  return false;
}

bool is_valid_utf16(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

// Every quote and line break of a script literal's inside is escaped by an odd backslash run.
void check_literal_inside(std::u16string_view escaped, char16_t quote) {
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == u'\\') {
      require(i + 1 < escaped.size());
      ++i;
      continue;
    }
    require(escaped[i] != quote && escaped[i] != u'\n' && escaped[i] != u'\r');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t key_length = data[0] % 8;
  std::u16string units((size - 1) / 2, u'\0');
  std::memcpy(units.data(), data + 1, units.size() * sizeof(char16_t));
  const std::u16string_view text = units;

  // The reader on raw input, with a key taken from the input's own start.
  const std::u16string_view key = text.substr(0, key_length);
  if (const auto value = json_get_string(text, key)) require(value->size() <= text.size());

  const std::u16string quoted = json_quote(text);
  require(quoted.size() >= 2 && quoted.front() == u'"' && quoted.back() == u'"');
  for (const char16_t unit : quoted) require(unit >= 32 && unit <= 126);
  check_literal_inside(std::u16string_view(quoted).substr(1, quoted.size() - 2), u'"');

  const std::u16string json_escaped = json_escape(text);
  check_literal_inside(json_escaped, u'"');
  for (const char16_t unit : json_escaped) require(unit >= 32);
  check_literal_inside(js_escape(text), u'\'');

  // What json_escape writes, the reader reads back (it decodes no \u, hence no other controls).
  if (!has_control_other_than_tab_lf_cr(text)) {
    const std::u16string member = u"{\"k\":\"" + json_escaped + u"\"}";
    require(json_get_string(member, u"k") == std::u16string(text));
  }

  const std::optional<std::string> bytes = wide_to_utf8(text);
  require(bytes.has_value());
  if (is_valid_utf16(text)) require(utf8_to_wide(*bytes) == std::u16string(text));

  // Arbitrary bytes always convert, and the result converts back without loss.
  const std::optional<std::u16string> wide =
      utf8_to_wide(std::string_view(reinterpret_cast<const char*>(data), size));
  require(wide.has_value() && is_valid_utf16(*wide));
  require(utf8_to_wide(*wide_to_utf8(*wide)) == *wide);
  return 0;
}
