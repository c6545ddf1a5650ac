// Encoding and decoding of the hand-off frame.
#include "app/handoff_frame.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_token_character(char32_t c) {
  return c > U' ' && c < 0x7F;
}

// The activation token spelt by units, when it is one.
std::optional<std::string> activation_token_of(std::u16string_view units) {
  if (units.empty() || !std::all_of(units.begin(), units.end(), is_token_character)) {
    return std::nullopt;
  }
  return std::string(units.begin(), units.end());  // ASCII, one byte a unit
}

}  // namespace

bool is_activation_token(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return is_token_character(static_cast<unsigned char>(c));
  });
}

std::string encode_handoff_frame(std::optional<std::u16string_view> text,
                                 std::optional<std::string_view> activation_token) {
  std::u16string payload;
  if (text || activation_token) {
    payload.assign(text.value_or(u""));
    payload.push_back(u'\0');
  }
  if (activation_token) {
    payload.append(activation_token->begin(), activation_token->end());  // ASCII
    payload.push_back(u'\0');
  }
  const std::uint64_t dw_data = 0;
  const std::uint32_t cb_data = static_cast<std::uint32_t>(payload.size() * sizeof(char16_t));
  std::string bytes(HANDOFF_HEADER_SIZE + cb_data, '\0');
  std::memcpy(bytes.data(), &dw_data, sizeof dw_data);
  std::memcpy(bytes.data() + sizeof dw_data, &cb_data, sizeof cb_data);
  std::memcpy(bytes.data() + HANDOFF_HEADER_SIZE, payload.data(), cb_data);
  return bytes;
}

HandoffParse parse_handoff_frame(std::string_view bytes) {
  HandoffParse parse;
  if (bytes.size() < HANDOFF_HEADER_SIZE) return parse;
  std::memcpy(&parse.frame.dw_data, bytes.data(), sizeof parse.frame.dw_data);
  std::memcpy(&parse.frame.cb_data, bytes.data() + sizeof parse.frame.dw_data,
              sizeof parse.frame.cb_data);
  const std::uint32_t cb_data = parse.frame.cb_data;
  if (cb_data > HANDOFF_MAX_PAYLOAD) {
    parse.status = HandoffParseStatus::invalid;
    parse.error = "cbData " + std::to_string(cb_data) + " is over " +
                  std::to_string(HANDOFF_MAX_PAYLOAD) + " bytes";
    return parse;
  }
  if (cb_data % 2 != 0) {
    parse.status = HandoffParseStatus::invalid;
    parse.error = "cbData " + std::to_string(cb_data) + " is not a whole number of UTF-16 units";
    return parse;
  }
  if (bytes.size() < HANDOFF_HEADER_SIZE + cb_data) return parse;

  parse.used = HANDOFF_HEADER_SIZE + cb_data;
  if (cb_data == 0) {
    parse.status = HandoffParseStatus::complete;
    return parse;
  }
  std::u16string units(cb_data / 2, u'\0');
  std::memcpy(units.data(), bytes.data() + HANDOFF_HEADER_SIZE, cb_data);
  const std::size_t nul = units.find(u'\0');
  if (nul == std::u16string::npos) {
    parse.status = HandoffParseStatus::invalid;
    parse.error = "payload of " + std::to_string(cb_data) + " bytes holds no terminating NUL";
    return parse;
  }
  // Units after the text without a NUL of their own are not a token.
  const std::size_t token_end = units.find(u'\0', nul + 1);
  if (token_end != std::u16string::npos) {
    parse.frame.activation_token =
        activation_token_of(std::u16string_view(units).substr(nul + 1, token_end - nul - 1));
  }
  units.resize(nul);
  parse.frame.text = std::move(units);
  parse.status = HandoffParseStatus::complete;
  return parse;
}
