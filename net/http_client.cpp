// HTTP exchanges over libcurl: one easy handle per exchange, nothing shared between exchanges.
#include "net/http_client.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/ascii_case.h"
#include "core/log.h"
#include "core/text.h"
#include "net/http_url.h"

namespace {

constexpr const char* USER_AGENT = "TelvanaPrint/1.0";
// Redirects followed in one exchange; one more fails a GET and is the answer of a POST.
constexpr int MAX_REDIRECTS = 10;
// The request is sent at most this many times more when the server drops it unanswered.
constexpr int MAX_RESENDS = 2;
constexpr long UPLOAD_BUFFER_SIZE = 512 * 1024;

constexpr const char* STEP_CRACK_URL = "WinHttpCrackUrl";
constexpr const char* STEP_OPEN = "WinHttpOpen";
constexpr const char* STEP_ADD_HEADERS = "WinHttpAddRequestHeaders";
constexpr const char* STEP_SEND = "WinHttpSendRequest";
constexpr const char* STEP_RECEIVE = "WinHttpReceiveResponse";
constexpr const char* STEP_QUERY_DATA = "WinHttpQueryDataAvailable";
constexpr const char* STEP_READ = "WinHttpReadData";

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, SlistDeleter>;

// Where in the exchange a failure happened. body: after the response's headers, while waiting
// for more of its body (the connection dropped, stalled or broke the body's framing).
enum class Phase { send, receive, body };

// What one attempt of an exchange saw; filled by the transfer callbacks.
struct Attempt {
  const HttpBodySource* source = nullptr;
  uint64_t body_offset = 0;
  bool source_failed = false;
  // The request went out on a connection: connected, and TLS done for https.
  bool connected = false;
  // TCP state of that connection when it was closed: TCP_CLOSE after a reset from the peer.
  int socket_state_at_close = -1;
  bool response_started = false;
  long response_status = 0;
  // The headers of the final response (not an interim 1xx one) are complete.
  bool final_headers_done = false;
  std::optional<std::string> body;
  // The response body went over HTTP_RESPONSE_BODY_LIMIT; reading stopped there.
  bool body_too_large = false;
  CURLcode code = CURLE_OK;
  long status = 0;
};

size_t read_body(char* buffer, size_t size, size_t count, void* user) {
  auto* attempt = static_cast<Attempt*>(user);
  const uint64_t left = attempt->source->length - attempt->body_offset;
  if (left == 0) return 0;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(left, size * count));
  const size_t got = attempt->source->read(attempt->body_offset, buffer, wanted);
  if (got == 0 || got > wanted) {
    attempt->source_failed = true;
    return CURL_READFUNC_ABORT;
  }
  attempt->body_offset += got;
  return got;
}

int seek_body(void* user, curl_off_t offset, int origin) {
  auto* attempt = static_cast<Attempt*>(user);
  if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > attempt->source->length) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  attempt->body_offset = static_cast<uint64_t>(offset);
  return CURL_SEEKFUNC_OK;
}

size_t write_body(char* data, size_t size, size_t count, void* user) {
  auto* attempt = static_cast<Attempt*>(user);
  if (!attempt->body) attempt->body.emplace();
  if (attempt->body->size() + size * count > HTTP_RESPONSE_BODY_LIMIT) {
    attempt->body_too_large = true;
    attempt->body.reset();
    return 0;
  }
  attempt->body->append(data, size * count);
  return size * count;
}

// Follows the responses as their header lines arrive, to know where a failure happened.
size_t read_header(char* data, size_t size, size_t count, void* user) {
  auto* attempt = static_cast<Attempt*>(user);
  const std::string_view line(data, size * count);
  attempt->response_started = true;
  if (starts_with_ignoring_case(line, "http/")) {
    const size_t space = line.find(' ');
    attempt->response_status =
        space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space)).c_str());
    attempt->final_headers_done = false;
  } else if ((line == "\r\n" || line == "\n") && attempt->response_status >= 200) {
    attempt->final_headers_done = true;
  }
  return size * count;
}

// Called once a connection (with its TLS) stands, right before a request goes out on it.
int request_ready(void* user, char*, char*, int, int) {
  auto* attempt = static_cast<Attempt*>(user);
  attempt->connected = true;
  return CURL_PREREQFUNC_OK;
}

// Notes how the peer left the request's connection before it is closed. Sockets of connection
// attempts that failed are closed before a request goes out, so they are not looked at.
int close_socket(void* user, curl_socket_t socket) {
  auto* attempt = static_cast<Attempt*>(user);
  if (attempt->connected) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) == 0) {
      attempt->socket_state_at_close = info.tcpi_state;
    }
  }
  return close(socket);
}

// The phase in which the attempt's failure happened.
Phase failure_phase(const Attempt& attempt) {
  switch (attempt.code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SEND_ERROR:
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
      return Phase::send;
    default:
      break;
  }
  if (attempt.final_headers_done) return Phase::body;
  if (attempt.response_started) return Phase::receive;
  if (!attempt.connected || attempt.source_failed) return Phase::send;
  if (attempt.source != nullptr && attempt.body_offset < attempt.source->length) {
    return Phase::send;
  }
  return Phase::receive;
}

// True when the server dropped the request without a byte of answer and without reading all of
// it: the kernel answers a close with unread data by a reset, so a connection that ended by a
// reset before any response was closed on a request the server cannot have taken in whole.
// A server that read the request and then closed without answering may have acted on it, so
// that case is never sent again.
bool dropped_unread(const Attempt& attempt) {
  if (attempt.response_started || attempt.source_failed || !attempt.connected) return false;
  if (attempt.code != CURLE_SEND_ERROR && attempt.code != CURLE_RECV_ERROR &&
      attempt.code != CURLE_GOT_NOTHING) {
    return false;
  }
  return attempt.socket_state_at_close == TCP_CLOSE;
}

// Splits header text at CR LF into curl's list; false when a line is not a header line.
bool add_header_lines(std::string_view text, CurlList& list) {
  while (!text.empty()) {
    const size_t end = text.find("\r\n");
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos ||
        line.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
      return false;
    }
    curl_slist* longer = curl_slist_append(list.get(), std::string(line).c_str());
    if (longer == nullptr) return false;
    list.release();
    list.reset(longer);
  }
  return true;
}

bool has_header(const curl_slist* list, std::string_view name) {
  for (; list != nullptr; list = list->next) {
    const std::string_view line(list->data);
    if (starts_with_ignoring_case(line, name) && line.size() > name.size() &&
        line[name.size()] == ':') {
      return true;
    }
  }
  return false;
}

// Leaves out the headers curl would add that the platform does not send.
bool suppress_default_headers(CurlList& list) {
  for (const char* name : {"accept", "expect", "content-type"}) {
    if (has_header(list.get(), name)) continue;
    const std::string empty = std::string(name) + ":";
    curl_slist* longer = curl_slist_append(list.get(), empty.c_str());
    if (longer == nullptr) return false;
    list.release();
    list.reset(longer);
  }
  return true;
}

// The options every exchange shares.
void set_common_options(CURL* handle, const HttpUrl& url, const HttpOptions& options,
                        Attempt& attempt) {
  curl_easy_setopt(handle, CURLOPT_CURLU, url.parts.get());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, USER_AGENT);
  curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  // Redirects are followed by the exchange itself: curl drops the body of a redirect it follows,
  // and a redirect that is not followed is the answer with its body.
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  // A body whose announced length is over the limit is refused before it is read.
  curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(HTTP_RESPONSE_BODY_LIMIT));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, options.connect_timeout_seconds);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.stall_timeout_seconds);
  if (!options.ca_file.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, options.ca_file.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, write_body);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &attempt);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, read_header);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &attempt);
  curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, request_ready);
  curl_easy_setopt(handle, CURLOPT_PREREQDATA, &attempt);
  curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, close_socket);
  curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, &attempt);
}

// Runs the transfer on handle and closes it, so that the connection's end is known. A redirect
// answer (3xx with a Location) gives the URL it names, absent when it cannot be used.
std::optional<HttpUrl> perform(CurlHandle handle, Attempt& attempt) {
  attempt.code = curl_easy_perform(handle.get());
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &attempt.status);
  std::optional<HttpUrl> redirect_to;
  char* location = nullptr;
  if (curl_easy_getinfo(handle.get(), CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
      location != nullptr) {
    if (const auto wide = utf8_to_wide(std::string_view(location))) {
      auto parsed = parse_http_url(*wide);
      if (auto* url = std::get_if<HttpUrl>(&parsed)) redirect_to = std::move(*url);
    }
  }
  handle.reset();
  return redirect_to;
}

// "<step> failed (WinHTTP <code>: <message>)" with trailing line breaks and spaces stripped
// from the message, or without the message when there is none.
std::string error_text(const char* step, CURLcode code) {
  std::string message = curl_easy_strerror(code);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  char number[24];
  std::snprintf(number, sizeof number, "%lu", static_cast<unsigned long>(code));
  std::string text = std::string(step) + " failed (WinHTTP " + number;
  if (!message.empty()) text += ": " + message;
  return text + ")";
}

const char* phase_step(Phase phase) {
  switch (phase) {
    case Phase::send:
      return STEP_SEND;
    case Phase::receive:
      return STEP_RECEIVE;
    case Phase::body:
      return STEP_QUERY_DATA;
  }
  return STEP_SEND;
}

// The answers that send the client on to their Location; any other 3xx, such as 300 or 304, is
// an answer like any other.
bool is_redirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool body_too_large(const Attempt& attempt) {
  return attempt.body_too_large || attempt.code == CURLE_FILESIZE_EXCEEDED;
}

}  // namespace

bool has_line_break_or_nul(std::u16string_view text) {
  return text.find_first_of(std::u16string_view(u"\r\n\0", 3)) != std::u16string_view::npos;
}

bool token_url_unencrypted(std::u16string_view url) {
  const auto parsed = parse_http_url(url);
  const auto* target = std::get_if<HttpUrl>(&parsed);
  return target != nullptr && plain_http_off_this_machine(*target);
}

std::optional<std::string_view> http_body_text(const HttpResult& result) {
  if (!result.body) return std::nullopt;
  const std::string_view body = *result.body;
  return body.substr(0, body.find('\0'));
}

void http_client_init() {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::signal(SIGPIPE, SIG_IGN);
}

HttpResult http_get(std::u16string_view url) {
  return http_get(url, HttpOptions{});
}

HttpResult http_get(std::u16string_view url, const HttpOptions& options) {
  HttpResult result;
  if (has_line_break_or_nul(url)) {
    result.error = URL_CONTROL_ERROR;
    return result;
  }
  auto parsed = parse_http_url(url);
  if (!std::holds_alternative<HttpUrl>(parsed)) {
    result.error = "Cannot parse URL";
    return result;
  }
  CurlList headers;
  if (!suppress_default_headers(headers)) {
    result.error = "WinHttpOpenRequest failed";
    return result;
  }
  // Every redirect is followed except one from https to http, which is the answer as it stands.
  HttpUrl target = std::move(std::get<HttpUrl>(parsed));
  for (int redirects = 0;; ++redirects) {
    CurlHandle handle(curl_easy_init());
    if (!handle) {
      result.error = "WinHttpOpen failed";
      return result;
    }
    Attempt attempt;
    set_common_options(handle.get(), target, options, attempt);
    curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, headers.get());
    std::optional<HttpUrl> next = perform(std::move(handle), attempt);
    if (body_too_large(attempt)) {
      result.error = GET_TOO_LARGE_ERROR;
      return result;
    }
    if (attempt.code == CURLE_OK && is_redirect(attempt.status) && next &&
        (next->secure || !target.secure)) {
      if (redirects == MAX_REDIRECTS) break;
      target = std::move(*next);
      continue;
    }
    // A failure while the body arrives ends the body; what came is the response.
    if (attempt.code == CURLE_OK || failure_phase(attempt) == Phase::body) {
      result.status = static_cast<uint32_t>(attempt.code == CURLE_OK ? attempt.status
                                                                     : attempt.response_status);
      result.body = std::move(attempt.body);
      return result;
    }
    break;
  }
  result.error = "HTTP request failed";
  return result;
}

HttpResult http_post(std::u16string_view url, std::optional<std::u16string_view> headers,
                     std::string_view body, bool no_client_certificate) {
  HttpBodySource source;
  source.length = body.size();
  source.read = [body](uint64_t offset, char* buffer, std::size_t size) {
    const std::size_t count = std::min<std::size_t>(size, body.size() - offset);
    std::memcpy(buffer, body.data() + offset, count);
    return count;
  };
  return http_post_stream(url, headers, source, no_client_certificate);
}

HttpResult http_post_stream(std::u16string_view url, std::optional<std::u16string_view> headers,
                            const HttpBodySource& source, bool no_client_certificate,
                            const HttpOptions& options) {
  // curl sends a client certificate only when one is configured, and none ever is: a server's
  // request for one is always answered with none.
  (void)no_client_certificate;
  HttpResult result;
  if (has_line_break_or_nul(url)) {
    result.error = URL_CONTROL_ERROR;
    return result;
  }
  auto parsed = parse_http_url(url);
  if (auto* code = std::get_if<CURLcode>(&parsed)) {
    result.error = error_text(STEP_CRACK_URL, *code);
    return result;
  }
  const HttpUrl& target = std::get<HttpUrl>(parsed);
  CurlList header_list;
  if (headers && !add_header_lines(*wide_to_utf8(*headers), header_list)) {
    result.error = error_text(STEP_ADD_HEADERS, CURLE_BAD_FUNCTION_ARGUMENT);
    return result;
  }
  if (!suppress_default_headers(header_list)) {
    result.error = error_text(STEP_ADD_HEADERS, CURLE_OUT_OF_MEMORY);
    return result;
  }

  // A redirect is followed only when it keeps the method and body (307, 308) and stays at the same
  // scheme, host and port; any other redirect answer is the response as it stands.
  HttpUrl redirected;
  const HttpUrl* target_url = &target;
  for (int resends = 0, redirects = 0;;) {
    CurlHandle handle(curl_easy_init());
    if (!handle) {
      result.error = error_text(STEP_OPEN, CURLE_FAILED_INIT);
      return result;
    }
    Attempt attempt;
    attempt.source = &source;
    set_common_options(handle.get(), *target_url, options, attempt);
    curl_easy_setopt(handle.get(), CURLOPT_POST, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(source.length));
    curl_easy_setopt(handle.get(), CURLOPT_READFUNCTION, read_body);
    curl_easy_setopt(handle.get(), CURLOPT_READDATA, &attempt);
    curl_easy_setopt(handle.get(), CURLOPT_SEEKFUNCTION, seek_body);
    curl_easy_setopt(handle.get(), CURLOPT_SEEKDATA, &attempt);
    curl_easy_setopt(handle.get(), CURLOPT_UPLOAD_BUFFERSIZE, UPLOAD_BUFFER_SIZE);
    curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, header_list.get());
    std::optional<HttpUrl> next = perform(std::move(handle), attempt);
    // Handing a received body on fails only at the size limit; the status stays known.
    if (body_too_large(attempt)) {
      result.status = static_cast<uint32_t>(attempt.response_status);
      result.error = error_text(STEP_READ, CURLE_FILESIZE_EXCEEDED);
      return result;
    }

    if (attempt.code == CURLE_OK) {
      if ((attempt.status == 307 || attempt.status == 308) && next &&
          same_origin(*next, *target_url) && redirects < MAX_REDIRECTS) {
        ++redirects;
        redirected = std::move(*next);
        target_url = &redirected;
        continue;
      }
      result.status = static_cast<uint32_t>(attempt.status);
      result.body = std::move(attempt.body);
      return result;
    }
    const Phase phase = failure_phase(attempt);
    if (phase != Phase::body && resends < MAX_RESENDS && dropped_unread(attempt)) {
      ++resends;
      log_printf(u"[WinHTTP] %s requested resend (%d/2)", phase_step(phase), resends);
      continue;
    }
    // The status is known once the headers are in; a failure while the body arrives keeps it.
    if (phase == Phase::body) result.status = static_cast<uint32_t>(attempt.response_status);
    result.error = error_text(phase_step(phase), attempt.code);
    return result;
  }
}
