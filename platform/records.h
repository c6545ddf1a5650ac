// Records that carry requests to workers and results back, and the messages that post them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t WM_APP_TOKEN_RESULT = WM_USER + 100;      // 1124, TokenResult
inline constexpr uint32_t WM_APP_UPLOAD_RESULT = WM_USER + 101;     // 1125, BridgeRequest
inline constexpr uint32_t WM_APP_NEW_PRINTED_FILE = WM_USER + 102;  // 1126, NewPrintedFile
inline constexpr uint32_t WM_APP_HTTP_GET_RESULT = WM_USER + 103;   // 1127, BridgeRequest

// A request to a worker, or a result from one; see the uses of each message.
struct BridgeRequest {
  std::optional<std::u16string> first;
  std::optional<std::u16string> second;
  std::optional<std::u16string> third;
};

// The token relay's result: the response body or an error text.
struct TokenResult {
  std::optional<std::u16string> body;
  std::optional<std::u16string> error;
};

// The full path of one printed PDF.
struct NewPrintedFile {
  std::u16string path;
  // Renamed into the folder while the program runs (printed now), not found by a listing.
  bool arrived = false;
};

// Each posts its record to the UI thread, where the matching deliver_* routine turns it into
// one page call. Callable from any thread; the record is owned by the receiver from then on.
void post_token_result(std::unique_ptr<TokenResult> result);
void post_upload_result(std::unique_ptr<BridgeRequest> result);
void post_new_printed_file(std::unique_ptr<NewPrintedFile> notice);
void post_http_get_result(std::unique_ptr<BridgeRequest> result);

// Posts an upload result carrying only the path and an error text.
void post_upload_error(std::u16string_view path, std::u16string_view error);

// Sets who receives the posted records on the UI thread (start-up hands down the bridge's
// route_app_message); the receiver owns each record from then on. Without a receiver a posted
// record is freed unread. Set before anything is posted.
void set_record_receiver(void (*receiver)(uint32_t message, void* record));
