// The callback URL in a command line and the hand-off frame's encoding and validation.
#include "app/handoff_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "app/callback_handoff.h"

namespace {

using namespace std::string_view_literals;

std::string header(std::uint64_t dw_data, std::uint32_t cb_data) {
  std::string bytes(HANDOFF_HEADER_SIZE, '\0');
  std::memcpy(bytes.data(), &dw_data, 8);
  std::memcpy(bytes.data() + 8, &cb_data, 4);
  return bytes;
}

std::string units(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// A frame of exactly these payload units.
std::string payload(std::u16string_view text) {
  return header(0, static_cast<std::uint32_t>(text.size() * 2)) + units(text);
}

struct ExtractCase {
  const char* name;
  std::u16string command_line;
  std::optional<std::u16string> url;
};

TEST(ExtractCallbackUrl, FindsTheFirstUrlUpToSpaceQuoteOrEnd) {
  const ExtractCase cases[] = {
      {"quoted as the desktop passes it", u"\"telvanaprinter://done?id=7\"",
       u"telvanaprinter://done?id=7"},
      {"bare to the end", u"telvanaprinter://done?id=7", u"telvanaprinter://done?id=7"},
      {"text after a space", u"telvanaprinter://a?x=1 more words", u"telvanaprinter://a?x=1"},
      {"a space inside cuts it", u"\"telvanaprinter://a b\"", u"telvanaprinter://a"},
      {"after other arguments", u"--hidden telvanaprinter://x", u"telvanaprinter://x"},
      {"first of two", u"telvanaprinter://one telvanaprinter://two", u"telvanaprinter://one"},
      {"apostrophe and backslash kept", u"telvanaprinter://it's\\here",
       u"telvanaprinter://it's\\here"},
      {"tab is not a separator", u"telvanaprinter://a\tb", u"telvanaprinter://a\tb"},
      {"prefix only", u"telvanaprinter://", u"telvanaprinter://"},
      {"embedded in a word", u"xtelvanaprinter://y", u"telvanaprinter://y"},
      {"wrong case", u"TelvanaPrinter://done", std::nullopt},
      {"other scheme", u"https://example.com/", std::nullopt},
      {"no slashes", u"telvanaprinter:done", std::nullopt},
      {"empty", u"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(extract_callback_url(c.command_line), c.url) << c.name;
  }
}

TEST(HandoffFrame, EncodesUrlWithItsNulOrAnEmptyFrame) {
  const std::string url_frame = encode_handoff_frame(u"telvanaprinter://done?id=7");
  ASSERT_EQ(url_frame.size(), HANDOFF_HEADER_SIZE + 54);
  EXPECT_EQ(url_frame.substr(0, HANDOFF_HEADER_SIZE), header(0, 54));
  EXPECT_EQ(url_frame.substr(HANDOFF_HEADER_SIZE),
            units(u"telvanaprinter://done?id=7") + std::string(2, '\0'));

  EXPECT_EQ(encode_handoff_frame(std::nullopt), header(0, 0));
  EXPECT_EQ(encode_handoff_frame(u""), header(0, 2) + std::string(2, '\0'));

  const std::string nul(2, '\0');
  EXPECT_EQ(encode_handoff_frame(u"telvanaprinter://x", "t_TIME1"),
            header(0, 38 + 16) + units(u"telvanaprinter://x") + nul + units(u"t_TIME1") + nul);
  EXPECT_EQ(encode_handoff_frame(std::nullopt, "t_TIME1"),
            header(0, 2 + 16) + nul + units(u"t_TIME1") + nul);
}

struct ParseCase {
  const char* name;
  std::string bytes;
  HandoffParseStatus status;
  std::optional<std::u16string> text;
  std::string error_part;
  std::optional<std::string> token = std::nullopt;
};

TEST(HandoffFrame, ParsesWholeFramesAndRejectsMalformedOnes) {
  const std::u16string tricky = u"telvanaprinter://it's\\ \U0001F600\xD800";
  const ParseCase cases[] = {
      {"url", encode_handoff_frame(u"telvanaprinter://done?id=7"), HandoffParseStatus::complete,
       u"telvanaprinter://done?id=7", ""},
      {"odd units round-trip", encode_handoff_frame(tricky), HandoffParseStatus::complete, tricky,
       ""},
      {"empty frame", header(0, 0), HandoffParseStatus::complete, std::nullopt, ""},
      {"only the NUL", header(0, 2) + std::string(2, '\0'), HandoffParseStatus::complete, u"", ""},
      {"any dwData", header(0xdeadbeefcafe, 4) + units(u"a") + std::string(2, '\0'),
       HandoffParseStatus::complete, u"a", ""},
      {"text ends at the first NUL, and units without a NUL of their own are no token",
       header(0, 8) + units(u"ab") + std::string(2, '\0') + units(u"c"),
       HandoffParseStatus::complete, u"ab", ""},
      {"url and token", encode_handoff_frame(u"telvanaprinter://x", "a1_TIME42"),
       HandoffParseStatus::complete, u"telvanaprinter://x", "", "a1_TIME42"},
      {"token without a URL", encode_handoff_frame(std::nullopt, "x11-id_TIME7"),
       HandoffParseStatus::complete, u"", "", "x11-id_TIME7"},
      {"a token with a space is none", payload(u"a\0b c\0"sv), HandoffParseStatus::complete, u"a",
       ""},
      {"a token outside ASCII is none", payload(u"a\0t\u00e9\0"sv), HandoffParseStatus::complete,
       u"a", ""},
      {"an empty token is none", payload(u"a\0\0"sv), HandoffParseStatus::complete, u"a", ""},
      {"nothing yet", "", HandoffParseStatus::incomplete, std::nullopt, ""},
      {"half a header", header(0, 54).substr(0, 7), HandoffParseStatus::incomplete, std::nullopt,
       ""},
      {"half a payload", encode_handoff_frame(u"telvanaprinter://x").substr(0, 20),
       HandoffParseStatus::incomplete, std::nullopt, ""},
      {"cbData over the bound, known from the header", header(0, HANDOFF_MAX_PAYLOAD + 2),
       HandoffParseStatus::invalid, std::nullopt, "over"},
      {"huge cbData", header(0, 0xffffffffu), HandoffParseStatus::invalid, std::nullopt, "over"},
      {"odd cbData", header(0, 5) + "abcde", HandoffParseStatus::invalid, std::nullopt, "UTF-16"},
      {"no NUL", header(0, 4) + units(u"ab"), HandoffParseStatus::invalid, std::nullopt, "NUL"},
      {"zero bytes only at odd offsets", header(0, 4) + std::string("a\0\0b", 4),
       HandoffParseStatus::invalid, std::nullopt, "NUL"},
  };
  for (const auto& c : cases) {
    const HandoffParse parse = parse_handoff_frame(c.bytes);
    EXPECT_EQ(parse.status, c.status) << c.name;
    EXPECT_EQ(parse.frame.text, c.text) << c.name;
    EXPECT_EQ(parse.frame.activation_token, c.token) << c.name;
    if (!c.error_part.empty()) {
      EXPECT_NE(parse.error.find(c.error_part), std::string::npos) << c.name << ": " << parse.error;
    }
  }
  // The largest payload accepted, exactly at the bound.
  std::string largest = header(0, HANDOFF_MAX_PAYLOAD) + std::string(HANDOFF_MAX_PAYLOAD, 'a');
  largest[largest.size() - 1] = largest[largest.size() - 2] = '\0';
  EXPECT_EQ(parse_handoff_frame(largest).status, HandoffParseStatus::complete);
}

TEST(HandoffFrame, EveryPrefixOfAFrameIsIncomplete) {
  const std::string frame = encode_handoff_frame(u"telvanaprinter://done?id=7");
  for (std::size_t length = 0; length < frame.size(); ++length) {
    ASSERT_EQ(parse_handoff_frame(std::string_view(frame).substr(0, length)).status,
              HandoffParseStatus::incomplete)
        << length;
  }
  const HandoffParse whole = parse_handoff_frame(frame + "trailing");
  EXPECT_EQ(whole.status, HandoffParseStatus::complete);
  EXPECT_EQ(whole.used, frame.size());
}

// Random and mutated frames: the parser never reads out of bounds (run under the sanitizer
// build) and whatever it accepts obeys the frame's rules.
TEST(HandoffFrame, RandomBytesNeverYieldAFrameOutsideTheRules) {
  std::mt19937 random(20240611);
  const std::string good = encode_handoff_frame(u"telvanaprinter://done?id=7", "a1_TIME42");
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    if (round % 2 == 0) {
      bytes = good;
      const int flips = 1 + static_cast<int>(random() % 4);
      for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<char>(random());
      bytes.resize(random() % (bytes.size() + 8), '\x7f');
    } else {
      bytes.resize(random() % 40);
      for (char& c : bytes) c = static_cast<char>(random() % 4 == 0 ? 0 : random());
    }
    const HandoffParse parse = parse_handoff_frame(bytes);
    if (parse.status != HandoffParseStatus::complete) continue;
    const std::uint32_t cb = parse.frame.cb_data;
    ASSERT_EQ(cb % 2, 0u);
    ASSERT_LE(cb, HANDOFF_MAX_PAYLOAD);
    ASSERT_EQ(parse.used, HANDOFF_HEADER_SIZE + cb);
    ASSERT_LE(parse.used, bytes.size());
    if (cb == 0) {
      ASSERT_FALSE(parse.frame.text.has_value());
    } else {
      ASSERT_TRUE(parse.frame.text.has_value());
      ASSERT_LT(parse.frame.text->size() * 2, cb);
      ASSERT_EQ(parse.frame.text->find(u'\0'), std::u16string::npos);
    }
    if (parse.frame.activation_token) {
      ASSERT_TRUE(is_activation_token(*parse.frame.activation_token));
    }
  }
}

}  // namespace
