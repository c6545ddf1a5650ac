// Reading string values out of flat JSON text and writing the JSON and script escapes.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "core/text.h"

namespace {

using Wide = std::optional<std::u16string>;

struct LookupCase {
  const char* name;
  std::u16string json;
  std::u16string key;
  Wide expected;
};

void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonGetString : public testing::TestWithParam<LookupCase> {};

TEST_P(JsonGetString, ReadsTheFirstOccurrenceAsTheHostReadsIt) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(json_get_string(c.json, c.key), c.expected);
}

const LookupCase LOOKUP_CASES[] = {
    {"plain", uR"({"a":"x"})", u"a", u"x"},
    {"blank_after_colon", uR"({"a": "x"})", u"a", u"x"},
    {"blank_each_side", uR"({"a" : "x"})", u"a", u"x"},
    {"two_colons", uR"({"a"::"x"})", u"a", u"x"},
    {"tabs_blanks_colons_mixed", u"{\"a\"\t: \t:\"x\"}", u"a", u"x"},
    {"line_feed_not_skipped", u"{\"a\"\n:\"x\"}", u"a", std::nullopt},
    {"carriage_return_not_skipped", u"{\"a\":\r\"x\"}", u"a", std::nullopt},
    {"number_value", uR"({"a":1})", u"a", std::nullopt},
    {"true_value", uR"({"a":true})", u"a", std::nullopt},
    {"null_value", uR"({"a":null})", u"a", std::nullopt},
    {"object_value", uR"({"a":{"b":"c"}})", u"a", std::nullopt},
    {"empty_value_is_present", uR"({"a":""})", u"a", u""},
    {"key_missing", uR"({"b":"x"})", u"a", std::nullopt},
    {"case_sensitive", uR"({"A":"x"})", u"a", std::nullopt},
    {"key_is_not_a_prefix_match", uR"({"ab":"x","a":"y"})", u"a", u"y"},
    {"first_occurrence_only_even_inside_a_value", uR"({"b":"a","a":"y"})", u"a", std::nullopt},
    {"later_duplicate_ignored", uR"({"a":"x","a":"y"})", u"a", u"x"},
    {"nesting_not_seen", uR"({"outer":{"path":"/tmp/f.pdf"}})", u"path", u"/tmp/f.pdf"},
    {"escaped_inner_quotes", uR"({"a":"say \"hi\" now"})", u"a", u"say \"hi\" now"},
    {"two_backslashes_close_the_value", uR"({"a":"x\\","b":"y"})", u"a", u"x\\"},
    {"three_backslashes_escape_the_quote", uR"({"a":"x\\\"y"})", u"a", u"x\\\"y"},
    {"four_backslashes_close_the_value", uR"({"a":"x\\\\"})", u"a", u"x\\\\"},
    {"escaped_quote_then_more", uR"({"a":"\"","b":"c"})", u"a", u"\""},
    {"unterminated_value_runs_to_the_end", uR"({"a":"abc\"d)", u"a", u"abc\"d"},
    {"unterminated_lone_backslash_kept", uR"({"a":"abc\)", u"a", u"abc\\"},
    {"unterminated_escaped_last_unit", uR"({"a":"ab\n)", u"a", u"ab\n"},
    {"text_ends_after_opening_quote", uR"({"a":")", u"a", u""},
    {"text_ends_after_key", uR"({"a")", u"a", std::nullopt},
    {"text_ends_after_colon", uR"({"a": )", u"a", std::nullopt},
    {"line_feed_and_tab_escapes", uR"({"a":"1\n2\t3\r4"})", u"a", u"1\n2\t3\r4"},
    {"slash_escape", uR"({"a":"http:\/\/x"})", u"a", u"http://x"},
    {"other_escapes_give_their_letter", uR"({"a":"\b\f\q"})", u"a", u"bfq"},
    {"no_unicode_decoding", uR"({"a":"caf\u00e9"})", u"a", u"cafu00e9"},
    {"non_ascii_kept", u"{\"a\":\"caf\u00e9 \U0001F600\"}", u"a", u"caf\u00e9 \U0001F600"},
    {"long_value_with_escapes_past_a_block",
     uR"({"a":"0123456789abcdef\\0123456789abcdef\"0123456789"})", u"a",
     u"0123456789abcdef\\0123456789abcdef\"0123456789"},
    {"empty_key", uR"({"":"x"})", u"", u"x"},
    {"key_holding_non_ascii", u"{\"\u00e9\":\"x\"}", u"\u00e9", u"x"},
};

INSTANTIATE_TEST_SUITE_P(Cases, JsonGetString, testing::ValuesIn(LOOKUP_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JsonGetStringInputs, AbsentTextOrKeyGivesAbsent) {
  EXPECT_EQ(json_get_string(std::nullopt, u"a"), std::nullopt);
  EXPECT_EQ(json_get_string(uR"({"a":"x"})", std::nullopt), std::nullopt);
}

TEST(JsonGetStringInputs, LongKeysAreMatchedWhole) {
  const std::u16string key(300, u'k');
  const std::u16string near_miss = key.substr(0, 200);
  const std::u16string json = u"{\"" + near_miss + u"\":\"wrong\",\"" + key + u"\":\"right\"}";
  EXPECT_EQ(json_get_string(json, key), u"right");
  EXPECT_EQ(json_get_string(json, near_miss), u"wrong");
}

TEST(JsonGetStringInputs, DoubleEscapedEnvelopeReadTwiceGivesTheOriginalPath) {
  // The page stringifies {"path":"C:\dir\a.pdf"} and then stringifies the envelope around it.
  const std::u16string envelope =
      uR"({"handler":"uploadPrintedFile","data":"{\"path\":\"C:\\\\dir\\\\a.pdf\",\"token\":\"t\"}"})";
  EXPECT_EQ(json_get_string(envelope, u"handler"), u"uploadPrintedFile");
  const Wide data = json_get_string(envelope, u"data");
  ASSERT_EQ(data, uR"({"path":"C:\\dir\\a.pdf","token":"t"})");
  EXPECT_EQ(json_get_string(*data, u"path"), uR"(C:\dir\a.pdf)");
  EXPECT_EQ(json_get_string(*data, u"token"), u"t");
}

struct EscapeCase {
  const char* name;
  std::optional<std::u16string> input;
  std::u16string quoted;
  std::u16string json_escaped;
  std::u16string js_escaped;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
  *os << c.name;
}

class Escapes : public testing::TestWithParam<EscapeCase> {};

TEST_P(Escapes, WriteEachUnitAsItsReaderNeedsIt) {
  const EscapeCase& c = GetParam();
  EXPECT_EQ(json_quote(c.input), c.quoted);
  EXPECT_EQ(json_escape(c.input), c.json_escaped);
  EXPECT_EQ(js_escape(c.input), c.js_escaped);
}

const EscapeCase ESCAPE_CASES[] = {
    {"absent", std::nullopt, u"null", u"", u""},
    {"empty", u"", uR"("")", u"", u""},
    {"tab", u"\t", uR"("\t")", uR"(\t)", u"\t"},
    {"line_feed", u"\n", uR"("\n")", uR"(\n)", uR"(\n)"},
    {"carriage_return", u"\r", uR"("\r")", uR"(\r)", uR"(\r)"},
    {"backslash", u"\\", uR"("\\")", uR"(\\)", uR"(\\)"},
    {"double_quote", u"\"", uR"("\"")", uR"(\")", u"\""},
    {"single_quote", u"a'b", uR"("a'b")", u"a'b", uR"(a\'b)"},
    {"other_control", u"\x01\x1f", uR"("\u0001\u001f")", uR"(\u0001\u001f)", u"\x01\x1f"},
    {"nul", std::u16string(1, u'\0'), uR"("\u0000")", uR"(\u0000)", std::u16string(1, u'\0')},
    {"del", u"\x7f", uR"("\u007f")", u"\x7f", u"\x7f"},
    {"e_acute", u"\u00e9", uR"("\u00e9")", u"\u00e9", u"\u00e9"},
    {"line_separator", u"\u2028\u2029", uR"("\u2028\u2029")", u"\u2028\u2029", u"\u2028\u2029"},
    {"non_bmp", u"\U0001F600", uR"("\ud83d\ude00")", u"\U0001F600", u"\U0001F600"},
    {"lone_surrogate", u"\xD800x", uR"("\ud800x")", u"\xD800x", u"\xD800x"},
    {"printable_ascii_unchanged", u"Az09 ~!/", uR"("Az09 ~!/")", u"Az09 ~!/", u"Az09 ~!/"},
    // Escapes inside and across whole eight-unit blocks, and at a block's last unit.
    {"escape_at_block_edges", u"0123456\"89abcdef\\", uR"("0123456\"89abcdef\\")",
     uR"(0123456\"89abcdef\\)", u"0123456\"89abcdef\\\\"},
    {"del_alone_in_a_plain_block", u"abcdefg\x7fhijklmn", uR"("abcdefg\u007fhijklmn")",
     u"abcdefg\x7fhijklmn", u"abcdefg\x7fhijklmn"},
    {"control_alone_in_a_plain_block", u"abcdefgh\x1bijklmno", uR"("abcdefgh\u001bijklmno")",
     uR"(abcdefgh\u001bijklmno)", u"abcdefgh\x1bijklmno"},
    {"all_escaped_block", u"''''''''\n", uR"("''''''''\n")", u"''''''''\\n",
     uR"(\'\'\'\'\'\'\'\'\n)"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Escapes, testing::ValuesIn(ESCAPE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EscapeGrowth, TextThatNeedsMoreThanTwiceItsLengthIsWrittenWhole) {
  // Every unit takes the six-unit form, so the output outgrows its first allocation many times.
  const std::u16string text(10'000, u'\u00e9');
  const std::u16string quoted = json_quote(text);
  ASSERT_EQ(quoted.size(), 2 + 6 * text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    ASSERT_EQ(quoted.compare(1 + 6 * i, 6, u"\\u00e9"), 0) << "at unit " << i;
  }
  EXPECT_EQ(json_escape(std::u16string(5'000, u'\x02')).size(), 30'000u);
  EXPECT_EQ(js_escape(std::u16string(5'000, u'\'')).size(), 10'000u);
}

}  // namespace
