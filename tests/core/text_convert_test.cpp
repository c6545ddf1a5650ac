// UTF-8 <-> UTF-16 conversion, malformed input included.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "core/text.h"

namespace {

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::u16string wide;
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
  *os << c.name;
}

class Utf8ToWide : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToWide, ConvertsAndReplacesEachMaximalInvalidSubpart) {
  EXPECT_EQ(utf8_to_wide(GetParam().utf8), GetParam().wide);
}

const Utf8Case UTF8_CASES[] = {
    {"empty", "", u""},
    {"ascii", "a/b.pdf", u"a/b.pdf"},
    {"embedded_nul_kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    {"two_three_four_bytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00e9\u20ac\U0001F600"},
    {"largest_code_point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"lone_continuation",
     "a\x80"
     "b",
     u"a\ufffdb"},
    {"invalid_leads", "\xC0\xC1\xF5\xFF", u"\ufffd\ufffd\ufffd\ufffd"},
    {"overlong_two_bytes", "\xC0\xAF", u"\ufffd\ufffd"},
    {"overlong_three_bytes", "\xE0\x80\xAF", u"\ufffd\ufffd\ufffd"},
    {"encoded_surrogate", "\xED\xA0\x80", u"\ufffd\ufffd\ufffd"},
    {"above_largest_code_point", "\xF4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},
    {"truncated_at_end", "ok\xE2\x82", u"ok\ufffd"},
    {"truncated_before_ascii",
     "\xF0\x9F\x98"
     "a",
     u"\ufffda"},
    // The Unicode standard's own example of maximal subparts.
    {"standard_example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     u"a\ufffd\ufffd\ufffdb\ufffdc\ufffd\ufffdd"},
};

INSTANTIATE_TEST_SUITE_P(Cases, Utf8ToWide, testing::ValuesIn(UTF8_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

struct WideCase {
  const char* name;
  std::u16string wide;
  std::string utf8;
};

void PrintTo(const WideCase& c, std::ostream* os) {
  *os << c.name;
}

class WideToUtf8 : public testing::TestWithParam<WideCase> {};

TEST_P(WideToUtf8, ConvertsAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(wide_to_utf8(GetParam().wide), GetParam().utf8);
}

const WideCase WIDE_CASES[] = {
    {"empty", u"", ""},
    {"mixed", u"a\u00e9\u20ac\U0001F600", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    {"lone_high",
     u"\xD800"
     u"a",
     "\xEF\xBF\xBD"
     "a"},
    {"lone_low", u"\xDC00", "\xEF\xBF\xBD"},
    {"high_at_end", u"a\xDBFF", "a\xEF\xBF\xBD"},
    {"reversed_pair", u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"two_highs_then_low", u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
};

INSTANTIATE_TEST_SUITE_P(Cases, WideToUtf8, testing::ValuesIn(WIDE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Conversions, AbsentGivesAbsent) {
  EXPECT_EQ(utf8_to_wide(std::nullopt), std::nullopt);
  EXPECT_EQ(wide_to_utf8(std::nullopt), std::nullopt);
}

// One validation serves the conversions and the printer's job names: each sequence alone, as the
// step the job-name writer keeps whole or replaces byte by byte.
TEST(Utf8Validation, AcceptsOnlyWellFormedSequences) {
  const struct {
    std::string_view bytes;
    bool valid;
    std::size_t length;
  } cases[] = {
      {"a", true, 1},
      {"\xC3\xA9", true, 2},
      {"\xE2\x82\xAC", true, 3},
      {"\xF0\x9F\x98\x80", true, 4},
      {"\xF4\x8F\xBF\xBF", true, 4},   // U+10FFFF
      {"\xC0\xAF", false, 1},          // overlong '/'
      {"\xE0\x80\xAF", false, 1},      // overlong
      {"\xED\xA0\x80", false, 1},      // a surrogate written as UTF-8
      {"\xF4\x90\x80\x80", false, 1},  // above U+10FFFF
      {"\xE2\x82", false, 2},          // cut short
      {"\x80", false, 1},              // a lone continuation byte
  };
  for (const auto& c : cases) {
    const TextStep step = decode_utf8_at(c.bytes, 0);
    EXPECT_EQ(step.valid, c.valid) << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(step.length, c.length) << testing::PrintToString(std::string(c.bytes));
  }
}

TEST(Utf16Validation, OnlyLoneSurrogatesAreInvalid) {
  const struct {
    std::u16string_view units;
    bool valid;
    std::size_t length;
  } cases[] = {
      {u"a", true, 1},
      {u"\xFFFD", true, 1},
      {u"\xD83D\xDE00", true, 2},
      {u"\xD83D", false, 1},
      {u"\xDE00\xD83D", false, 1},
      {u"\xD83D"
       u"a",
       false, 1},
  };
  for (const auto& c : cases) {
    const TextStep step = decode_utf16_at(c.units, 0);
    EXPECT_EQ(step.valid, c.valid) << c.units.size() << " units starting " << int(c.units[0]);
    EXPECT_EQ(step.length, c.length) << c.units.size() << " units starting " << int(c.units[0]);
  }
}

}  // namespace
