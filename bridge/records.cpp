// Posting result records to the UI thread and handing them to their delivery routines there.
#include "bridge/records.h"

#include "bridge/delivery.h"
#include "platform/ui_thread.h"

namespace {

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

void route_app_message(uint32_t message, void* record) {
  switch (message) {
    case WM_APP_TOKEN_RESULT:
      deliver_token_result(std::unique_ptr<TokenResult>(static_cast<TokenResult*>(record)));
      break;
    case WM_APP_UPLOAD_RESULT:
      deliver_upload_result(std::unique_ptr<BridgeRequest>(static_cast<BridgeRequest*>(record)));
      break;
    case WM_APP_NEW_PRINTED_FILE:
      deliver_new_printed_file(
          std::unique_ptr<NewPrintedFile>(static_cast<NewPrintedFile*>(record)));
      break;
    case WM_APP_HTTP_GET_RESULT:
      deliver_http_get_result(std::unique_ptr<BridgeRequest>(static_cast<BridgeRequest*>(record)));
      break;
    default:
      break;
  }
}
