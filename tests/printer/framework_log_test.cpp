// The printer framework's log messages, formatted with the program's escapes.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "printer/pappl_log_escaping.h"

namespace {

std::string formatted(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = framework_log_text(format, arguments);
  va_end(arguments);
  return text;
}

TEST(FrameworkLog, ValuesAreEscapedAsTheProgramsOwnLinesAndFormatsStayIntact) {
  const struct {
    std::string got, expected;
  } cases[] = {
      // Control characters of a value, C1 ones included, cannot end the line or drive a terminal.
      {formatted("Job '%s' saved.", "a\nb\r\tc\x1b[2J\xc2\x85z"),
       "Job 'a\\nb\\r\\tc\\x1B[2J\\u0085z' saved."},
      {formatted("%c%c", 'x', '\n'), "x\\n"},
      // Quotes and backslashes are text like any other.
      {formatted("%s", "it's \"q\" \\ 1"), "it's \"q\" \\ 1"},
      {formatted("%s|%s", nullptr, "\xff"), "(null)|\xef\xbf\xbd"},
      // Every argument is taken with its own type, widths and precisions as written.
      {formatted("%d %ld %lld %u %lu %zu %02X %04x %.2f %p", -1, -2L, -3LL, 4u, 5UL,
                 static_cast<size_t>(6), 10u, 255u, 1.5, reinterpret_cast<void*>(0x10)),
       "-1 -2 -3 4 5 6 0A 00ff 1.50 0x10"},
      {formatted("%*d|%-4s|%.3s|%.*s", 3, 7, "ab", "abcdef", 2, "xyz"), "  7|ab  |abc|xy"},
      // The result serves as a format without conversions: every '%' comes doubled.
      {formatted("50%% of %s, %k", "100%"), "50%% of 100%%, %%k"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
