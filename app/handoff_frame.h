// The hand-off frame that carries a second start's callback URL, and the activation token the
// desktop launched it with, to the running instance.
//
// On the per-user socket a frame is, in host byte order (it never leaves the machine):
//   8 bytes   dwData, unsigned; our sender writes 0 and the receiver does not examine it
//   4 bytes   cbData, unsigned: the size of the payload in bytes
//   cbData    the payload: UTF-16 text with its terminating NUL, 2 x (length + 1) bytes; none
//             when there is no URL and no token (cbData 0). An activation token follows the
//             text's NUL as UTF-16 with a NUL of its own (the text is then empty when there is
//             no URL); a frame without one is exactly the frame of the URL alone.
// The receiver answers a frame it handled with 4 bytes, a signed 32-bit result (1), and closes
// the connection; a frame it rejects gets no answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Bytes before the payload.
inline constexpr std::size_t HANDOFF_HEADER_SIZE = 12;
// Largest payload the receiver accepts.
inline constexpr std::uint32_t HANDOFF_MAX_PAYLOAD = 64 * 1024;
// Size of the answer.
inline constexpr std::size_t HANDOFF_ANSWER_SIZE = 4;

// One decoded frame.
struct HandoffFrame {
  std::uint64_t dw_data = 0;
  std::uint32_t cb_data = 0;
  // The text up to the first NUL; absent when cbData is 0.
  std::optional<std::u16string> text;
  // The activation token between the text's NUL and the next one; absent when there is none or
  // it is not an activation token.
  std::optional<std::string> activation_token;
};

// True for text a desktop gives as an activation token (xdg-activation, startup notification):
// printable ASCII without spaces, not empty.
bool is_activation_token(std::string_view text);

// Encodes a frame: dwData 0 and the text with its NUL, then the token with its NUL when given,
// or cbData 0 and no payload when neither is given.
std::string encode_handoff_frame(std::optional<std::u16string_view> text,
                                 std::optional<std::string_view> activation_token = std::nullopt);

// How far the bytes received so far make a frame.
enum class HandoffParseStatus { incomplete, complete, invalid };

struct HandoffParse {
  HandoffParseStatus status = HandoffParseStatus::incomplete;
  HandoffFrame frame;    // filled when complete
  std::string error;     // why the bytes are not a frame, when invalid
  std::size_t used = 0;  // bytes the complete frame took
};

// Decodes the bytes received so far on one connection. Invalid as soon as the header shows an
// odd cbData or one above HANDOFF_MAX_PAYLOAD, or the whole payload holds no NUL at an even
// offset. Looks at the payload only once it is complete. Bytes after the frame are not examined.
HandoffParse parse_handoff_frame(std::string_view bytes);
