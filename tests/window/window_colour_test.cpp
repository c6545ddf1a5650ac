#include "window/window_colour.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseWindowBackground, ReadsTheColourAsScanningHexWouldRead) {
  struct Case {
    std::optional<std::u16string> text;
    std::optional<uint32_t> expected;
  };
  const Case cases[] = {
      {u"#1E90FF", 0x1E90FF},
      {u"#1e90ff", 0x1E90FF},
      {u"#FAFBFC", 0xFAFBFC},
      {u"#000000", 0x000000},
      {u"#1E90FF99", 0x1E90FF},  // characters after the sixth are
                                 // ignored
      {u"#zzzzzz", 0x000000},    // nothing read: black
      {u"#12zzzz", 0x000012},    // reading stops at the first non-digit
      {u"#  1E90FF", 0x1E90FF},  // leading blanks are skipped and not counted
      {u"#\t12345", 0x012345},
      {u"#+1E90F", 0x01E90F},    // the sign counts against the 6
                                 // characters
      {u"#-00001", 0xFFFFFF},    // a negative value wraps
      {u"#-000001", 0x000000},   // the sign and five zeros fill the field
      {u"#0x1E90FF", 0x001E90},  // "0x" is accepted and counts too
      {u"#0X12345", 0x001234},
      {u"#0xzzzz", 0x000000},
      {u"#-zzzzz", 0x000000},
      {u"1E90FF", std::nullopt},  // no '#'
      {u" #1E90FF", std::nullopt},
      {u"#12345", std::nullopt},  // shorter than 7 characters
      {u"", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<std::u16string_view> text =
        c.text ? std::optional<std::u16string_view>(*c.text) : std::nullopt;
    const std::string shown = c.text ? std::string(c.text->begin(), c.text->end()) : "(none)";
    EXPECT_EQ(parse_window_background(text), c.expected) << shown;
  }
}

}  // namespace
