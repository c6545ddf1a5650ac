// Posting result records to the UI thread and handing them to their receiver there.
#include "platform/records.h"

#include "platform/ui_thread.h"

namespace {

void (*record_receiver)(uint32_t, void*) = nullptr;  // set once at start-up

// Frees a record that no receiver takes.
void discard_record(uint32_t message, void* record) {
  switch (message) {
    case WM_APP_TOKEN_RESULT:
      delete static_cast<TokenResult*>(record);
      break;
    case WM_APP_NEW_PRINTED_FILE:
      delete static_cast<NewPrintedFile*>(record);
      break;
    case WM_APP_UPLOAD_RESULT:
    case WM_APP_HTTP_GET_RESULT:
      delete static_cast<BridgeRequest*>(record);
      break;
    default:
      break;
  }
}

void route_app_message(uint32_t message, void* record) {
  if (record_receiver != nullptr) {
    record_receiver(message, record);
  } else {
    discard_record(message, record);
  }
}

// The UI-thread ends of the four posts: each carries its message number to the router.
void route_token_result(void* record) {
  route_app_message(WM_APP_TOKEN_RESULT, record);
}
void route_upload_result(void* record) {
  route_app_message(WM_APP_UPLOAD_RESULT, record);
}
void route_new_printed_file(void* record) {
  route_app_message(WM_APP_NEW_PRINTED_FILE, record);
}
void route_http_get_result(void* record) {
  route_app_message(WM_APP_HTTP_GET_RESULT, record);
}

}  // namespace

void post_token_result(std::unique_ptr<TokenResult> result) {
  post_to_ui_thread(route_token_result, result.release());
}

void post_upload_result(std::unique_ptr<BridgeRequest> result) {
  post_to_ui_thread(route_upload_result, result.release());
}

void post_new_printed_file(std::unique_ptr<NewPrintedFile> notice) {
  post_to_ui_thread(route_new_printed_file, notice.release());
}

void post_http_get_result(std::unique_ptr<BridgeRequest> result) {
  post_to_ui_thread(route_http_get_result, result.release());
}

void post_upload_error(std::u16string_view path, std::u16string_view error) {
  auto result = std::make_unique<BridgeRequest>();
  result->first = std::u16string(path);
  result->third = std::u16string(error);
  post_upload_result(std::move(result));
}

void set_record_receiver(void (*receiver)(uint32_t message, void* record)) {
  record_receiver = receiver;
}
