// Thread entries of the workers that the page's requests start; each owns its request,
// performs one exchange, posts exactly one result to the UI thread and ends.
#pragma once

#include <memory>

#include "platform/records.h"

// first: path of the PDF, second: bearer token, third: upload endpoint.
void upload_worker(std::unique_ptr<BridgeRequest> request);

// first: endpoint URL, second: form body.
void token_relay_worker(std::unique_ptr<BridgeRequest> request);

// first: request id, second: URL.
void http_get_relay_worker(std::unique_ptr<BridgeRequest> request);
