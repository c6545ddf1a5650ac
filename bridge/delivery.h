// Turning a result posted to the UI thread into one script call into the page: the routines the
// bridge hands the watcher and each worker when it starts them.
#pragma once

#include <memory>

#include "files/file_watcher.h"
#include "net/workers.h"

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
