// libFuzzer target for the hand-off frame decoder: whatever bytes a local client sends, decoding
// stays in bounds, and a frame it accepts obeys the frame's rules.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/handoff_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const HandoffParse parse = parse_handoff_frame(bytes);
  if (parse.status != HandoffParseStatus::complete) return 0;
  const std::uint32_t cb = parse.frame.cb_data;
  if (cb % 2 != 0 || cb > HANDOFF_MAX_PAYLOAD || parse.used != HANDOFF_HEADER_SIZE + cb ||
      parse.used > size) {
    __builtin_trap();
  }
  if (cb == 0 ? parse.frame.text.has_value()
              : !parse.frame.text || parse.frame.text->size() * 2 >= cb ||
                    parse.frame.text->find(u'\0') != std::u16string::npos) {
    __builtin_trap();
  }
  if (parse.frame.activation_token && !is_activation_token(*parse.frame.activation_token)) {
    __builtin_trap();
  }
  // Decoding is the same whole or in any two pieces the receiver might read them in.
  if (size > 0) {
    const HandoffParse part = parse_handoff_frame(bytes.substr(0, size / 2));
    if (part.status == HandoffParseStatus::invalid) __builtin_trap();
  }
  return 0;
}
