// One complete, blocking HTTP exchange per call, on the calling thread (worker threads only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The outcome of one exchange. It succeeded exactly when error is absent; look at status and
// body only then. body is absent when no body byte arrived or the body was discarded.
struct HttpResult {
  uint32_t status = 0;
  std::optional<std::string> body;
  std::optional<std::string> error;
};

// A response body longer than this is not read: the exchange fails.
inline constexpr uint64_t HTTP_RESPONSE_BODY_LIMIT = 16 * 1024 * 1024;

// The failure text of a URL holding CR, LF or NUL, which is refused before anything is sent.
inline constexpr const char* URL_CONTROL_ERROR = "URL contains CR, LF or NUL";

// The failure text of http_get for a response body over the limit.
inline constexpr const char* GET_TOO_LARGE_ERROR = "Response too large (over 16 MiB)";

// The failure text of a request carrying the user's token to plain http off this machine, which
// is refused before anything is sent.
inline constexpr const char* PLAIN_HTTP_TOKEN_ERROR =
    "Refused: the token is sent only over https, or plain http to this machine";

// True when url is a plain http address off this machine, where the user's token may not go.
bool token_url_unencrypted(std::u16string_view url);

// True when text holds CR, LF or NUL: it cannot go into a request line or header value.
bool has_line_break_or_nul(std::u16string_view text);

// Limits of one exchange. The defaults are the platform's; tests shorten them.
struct HttpOptions {
  long connect_timeout_seconds = 60;
  // A send or receive that moves no byte for this long fails.
  long stall_timeout_seconds = 30;
  // A PEM file of certificates to trust instead of the system's store; empty for the store.
  std::string ca_file;
};

// A request body produced piece by piece while it is sent, so that it is never held whole.
// read copies up to size bytes of the body starting at offset into buffer and returns the count
// copied; 0 before length is reached means the source failed, which ends the exchange.
// A resent request reads the body again from offset 0.
struct HttpBodySource {
  uint64_t length = 0;
  std::function<std::size_t(uint64_t offset, char* buffer, std::size_t size)> read;
};

// The response body as text: its bytes up to the first NUL, which is where every reader of the
// body as text stops; absent when there is no body.
std::optional<std::string_view> http_body_text(const HttpResult& result);

// The client's process-wide set-up, once at start-up before any exchange: the HTTP library's
// global state, and SIGPIPE ignored so that a peer closing a socket cannot end the process.
void http_client_init();

// GETs url, following redirects except from https to http; a redirect not followed is the
// answer, with its body. Failures give short fixed texts; a failure while the body arrives is not
// one: the body read so far is returned with the status. A body over the limit is a failure.
HttpResult http_get(std::u16string_view url);
HttpResult http_get(std::u16string_view url, const HttpOptions& options);

// POSTs body to url with headers (complete header lines separated by CR LF, or absent). Failures
// give "<step> failed (WinHTTP <code>: <message>)"; a partial response body is discarded. A
// connection that drops or stalls while the body arrives fails at "WinHttpQueryDataAvailable";
// a body over the limit fails at reading, "WinHttpReadData" (curl's code 63).
// no_client_certificate answers a server's request for a client certificate with none.
HttpResult http_post(std::u16string_view url, std::optional<std::u16string_view> headers,
                     std::string_view body, bool no_client_certificate);

// http_post with a body streamed from source, and with limits.
HttpResult http_post_stream(std::u16string_view url, std::optional<std::u16string_view> headers,
                            const HttpBodySource& source, bool no_client_certificate,
                            const HttpOptions& options = {});
