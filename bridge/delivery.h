// Turning a result posted to the UI thread into one script call into the page.
#pragma once

#include <memory>

#include "platform/records.h"

// Calls the page's _onNewPrintedFile with the path of a newly printed PDF; one printed now is
// also announced should the window stay out of sight. UI thread only.
void deliver_new_printed_file(std::unique_ptr<NewPrintedFile> notice);

// Calls the page's _onUploadResult with JSON text: "path" and either "error" or "storagePath".
// UI thread only.
void deliver_upload_result(std::unique_ptr<BridgeRequest> result);

// Calls the page's _onTokenResponse with the body and the error, each a string or null.
// UI thread only.
void deliver_token_result(std::unique_ptr<TokenResult> result);

// Calls the page's _onHttpGetResponse with the request id, the body and the error, each a string
// or null. UI thread only.
void deliver_http_get_result(std::unique_ptr<BridgeRequest> result);

// The receiver of posted records (set_record_receiver): re-owns record and runs the delivery
// routine that belongs to message. Unknown messages free nothing and do nothing. UI thread only.
void route_app_message(uint32_t message, void* record);
