// The token relay and the page's GET relay: one exchange each on the page's behalf.
#include <string>

#include "core/log.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/workers.h"

namespace {

constexpr std::u16string_view FORM_CONTENT_TYPE =
    u"Content-Type: application/x-www-form-urlencoded";
// The token relay passes at most this many bytes of a failed response's body to the page.
constexpr std::size_t TOKEN_ERROR_BODY_BYTES = 400;

std::u16string status_text(uint32_t status) {
  return u"HTTP " + *utf8_to_wide(std::to_string(status));
}

}  // namespace

void token_relay_worker(std::unique_ptr<BridgeRequest> request, Delivery<TokenResult> deliver) {
  const std::u16string url = request->first.value_or(u"");
  const std::string form = wide_to_utf8(request->second).value_or("");
  request.reset();

  auto result = std::make_unique<TokenResult>();
  // The form carries the user's token or the grant that yields one.
  if (token_url_unencrypted(url)) {
    log_printf(u"[postToken] Refused: the token is not sent unencrypted to %s", url);
    result->error = utf8_to_wide(PLAIN_HTTP_TOKEN_ERROR);
    post_result(deliver, std::move(result));
    return;
  }
  const HttpResult http = http_post(url, FORM_CONTENT_TYPE, form, false);
  const std::optional<std::string_view> body = http_body_text(http);
  if (http.error) {
    result->error = utf8_to_wide(*http.error);
  } else if (http.status < 200 || http.status > 299) {
    const std::string_view head = body.value_or("").substr(0, TOKEN_ERROR_BODY_BYTES);
    result->error = status_text(http.status) + u": " + *utf8_to_wide(head);
  } else if (body) {
    result->body = utf8_to_wide(*body);
  } else {
    result->body = u"{}";
  }
  post_result(deliver, std::move(result));
}

void http_get_relay_worker(std::unique_ptr<BridgeRequest> request,
                           Delivery<BridgeRequest> deliver) {
  auto result = std::make_unique<BridgeRequest>();
  result->first = std::move(request->first);
  const std::u16string url = request->second.value_or(u"");
  request.reset();

  const HttpResult http = http_get(url);
  if (http.error) {
    result->third = utf8_to_wide(*http.error);
  } else if (http.status < 200 || http.status > 299) {
    result->third = status_text(http.status);
  } else {
    result->second = utf8_to_wide(http_body_text(http)).value_or(u"");
  }
  post_result(deliver, std::move(result));
}
