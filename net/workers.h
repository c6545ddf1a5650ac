// Thread entries of the workers that the page's requests start; each owns its request,
// performs one exchange, posts exactly one result to the UI thread for deliver and ends.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/ui_thread.h"

// A request to a worker, or the result of an upload or of a GET; see the uses of each worker.
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

// first: path of the PDF, second: bearer token, third: upload endpoint. Its result: first the
// path, and second the storage path or third an error text.
void upload_worker(std::unique_ptr<BridgeRequest> request, Delivery<BridgeRequest> deliver);

// first: endpoint URL, second: form body.
void token_relay_worker(std::unique_ptr<BridgeRequest> request, Delivery<TokenResult> deliver);

// first: request id, second: URL. Its result: first the id, and second the body or third an
// error text.
void http_get_relay_worker(std::unique_ptr<BridgeRequest> request, Delivery<BridgeRequest> deliver);
