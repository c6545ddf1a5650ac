// Encoding and decoding of the hand-off frame.
#include "app/handoff_frame.h"

#include <cstring>

std::string encode_handoff_frame(std::optional<std::u16string_view> text) {
  const std::uint64_t dw_data = 0;
  const std::uint32_t cb_data =
      text ? static_cast<std::uint32_t>((text->size() + 1) * sizeof(char16_t)) : 0;
  std::string bytes(HANDOFF_HEADER_SIZE + cb_data, '\0');
  std::memcpy(bytes.data(), &dw_data, sizeof dw_data);
  std::memcpy(bytes.data() + sizeof dw_data, &cb_data, sizeof cb_data);
  // The NUL is already there: the buffer was zero-filled.
  if (text) std::memcpy(bytes.data() + HANDOFF_HEADER_SIZE, text->data(), text->size() * 2);
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
  units.resize(nul);
  parse.frame.text = std::move(units);
  parse.status = HandoffParseStatus::complete;
  return parse;
}
