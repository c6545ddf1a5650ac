// The one case-insensitive comparison that HTTP header lines, PDF names and job-file extensions
// share: ASCII letters only, either side in any case.
#include "core/ascii_case.h"

#include <gtest/gtest.h>

namespace {

TEST(AsciiCase, PrefixesAndSuffixesIgnoreLetterCaseOnly) {
  const struct {
    std::string_view text;
    std::string_view part;
    bool starts;
    bool ends;
  } cases[] = {
      {"Location: /x", "location:", true, false},
      {"HTTP/1.1 200", "http/", true, false},
      {"Report.PDF", ".pdf", false, true},
      {"report.pdf", ".PdF", false, true},
      {"pdf", ".pdf", false, false},  // shorter than the part
      {"a.pdf ", ".pdf", false, false},
      {"\xC3\x89.pdf", "\xC3\xA9", false, false},  // only ASCII letters fold
      {"[x]", "{X}", false, false},                // '[' and '{' differ by the case bit only
      {"same", "SAME", true, true},
      {"", "", true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(starts_with_ignoring_case(c.text, c.part), c.starts) << c.text << " / " << c.part;
    EXPECT_EQ(ends_with_ignoring_case(c.text, c.part), c.ends) << c.text << " / " << c.part;
  }
}

}  // namespace
