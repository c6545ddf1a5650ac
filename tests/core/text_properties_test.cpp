// The escapes and conversions checked over many generated strings against real readers: a JSON
// parser and a JavaScript engine must read back exactly the text that was written.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/text.h"
#include "tests/bridge/text_js_engine.h"

namespace {

// Units that stress the escapes: quotes, backslashes, every control character, line and
// paragraph separators, DEL, BOM, the BMP's last unit and non-BMP characters (as pairs). Every
// other text is mostly plain ASCII, so special units also turn up alone inside whole blocks.
std::u16string random_text(std::mt19937& random, bool allow_lone_surrogates) {
  static const std::u16string interesting = u"'\"\\/ \x7f\u00e9\u2028\u2029\ufeff\uffff\u4e2d";
  std::uniform_int_distribution<int> length_of(0, 40);
  std::uniform_int_distribution<int> kind_of(0, 5);
  std::u16string text;
  const bool mostly_ascii = random() % 2 == 0;
  const int length = length_of(random);
  for (int i = 0; i < length; ++i) {
    if (mostly_ascii && random() % 16 != 0) {
      text.push_back(static_cast<char16_t>(u'A' + random() % 26));
      continue;
    }
    switch (kind_of(random)) {
      case 0:
        text.push_back(static_cast<char16_t>(random() % 32));
        break;
      case 1:
        text.push_back(static_cast<char16_t>(32 + random() % 95));
        break;
      case 2:
        text.push_back(interesting[random() % interesting.size()]);
        break;
      case 3: {
        const char32_t cp = 0x10000 + random() % 0x100000;
        text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        break;
      }
      case 4:
        if (allow_lone_surrogates) {
          text.push_back(static_cast<char16_t>(0xD800 + random() % 0x800));
          break;
        }
        [[fallthrough]];
      default: {
        char16_t unit = static_cast<char16_t>(0x80 + random() % (0x10000 - 0x80));
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0x20AC;
        text.push_back(unit);
        break;
      }
    }
  }
  return text;
}

std::vector<std::u16string> generated(bool allow_lone_surrogates, int count = 1500) {
  std::mt19937 random(20240611);
  std::vector<std::u16string> texts;
  for (int i = 0; i < count; ++i) texts.push_back(random_text(random, allow_lone_surrogates));
  // Long runs, so whole blocks of units are copied as well as single units.
  texts.push_back(std::u16string(100, u'a') + u"'\"\\\n" + std::u16string(33, u'b'));
  return texts;
}

std::string utf8(const std::u16string& text) {
  return *wide_to_utf8(text);
}

// The string value of JSON text as a real JSON parser reads it; absent when it is no JSON string.
std::optional<std::string> parsed_string(const std::string& json_text) {
  const nlohmann::json value = nlohmann::json::parse(json_text, nullptr, false);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::optional<std::string> parsed_string(const std::u16string& json_text) {
  return parsed_string(utf8(json_text));
}

TEST(EscapeProperties, JsonQuoteIsPrintableAsciiForEveryText) {
  for (const std::u16string& text : generated(true)) {
    const std::u16string quoted = json_quote(text);
    for (const char16_t unit : quoted) {
      ASSERT_TRUE(unit >= 32 && unit <= 126) << "unit " << int(unit) << " in " << utf8(quoted);
    }
  }
}

TEST(EscapeProperties, JsonParserReadsBackJsonQuoteAndJsonEscape) {
  for (const std::u16string& text : generated(false)) {
    ASSERT_EQ(parsed_string(json_quote(text)), utf8(text)) << utf8(json_quote(text));
    const std::u16string literal = u"\"" + json_escape(text) + u"\"";
    ASSERT_EQ(parsed_string(literal), utf8(text)) << utf8(literal);
  }
}

TEST(EscapeProperties, JavaScriptReadsBackEachEscapeInItsLiteral) {
  const JsContext context = make_js_context();
  struct Form {
    const char* name;
    std::u16string (*write)(const std::u16string&);
  };
  const Form forms[] = {
      {"js_escape in single quotes",
       [](const std::u16string& s) { return u"'" + js_escape(s) + u"'"; }},
      {"json_escape in double quotes",
       [](const std::u16string& s) { return u"\"" + json_escape(s) + u"\""; }},
      {"json_quote as an expression", [](const std::u16string& s) { return json_quote(s); }},
  };
  for (const Form& form : forms) {
    for (const std::u16string& text : generated(false, 600)) {
      const std::u16string script = form.write(text);
      const JsOutcome outcome = js_evaluate(context.get(), script);
      ASSERT_TRUE(outcome.json) << form.name << ": " << outcome.exception << " in " << utf8(script);
      ASSERT_EQ(parsed_string(*outcome.json), utf8(text)) << form.name << ": " << utf8(script);
    }
  }
}

TEST(ConversionProperties, Utf8RoundTripKeepsEveryValidText) {
  for (const std::u16string& text : generated(false)) {
    const std::optional<std::string> bytes = wide_to_utf8(text);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(utf8_to_wide(*bytes), text);
  }
}

TEST(ConversionProperties, Utf8OutputIsWhatAJsonParserAcceptsAsUtf8) {
  // The parser validates UTF-8 strictly, so even texts with lone surrogates must convert to
  // well-formed UTF-8 (U+FFFD in their place).
  for (const std::u16string& text : generated(true)) {
    const std::string json = "\"" + *wide_to_utf8(text) + "\"";
    // Raw control characters are not JSON; the check is about the UTF-8 only.
    std::string printable;
    for (const char c : json) printable.push_back(static_cast<unsigned char>(c) < 32 ? ' ' : c);
    for (std::size_t i = 1; i + 1 < printable.size(); ++i) {
      if (printable[i] == '"' || printable[i] == '\\') printable[i] = ' ';
    }
    ASSERT_TRUE(nlohmann::json::accept(printable)) << printable;
  }
}

}  // namespace
