// Parsing the URL of one exchange.
#include "net/http_url.h"

#include <arpa/inet.h>

#include <string>

#include "core/ascii_case.h"
#include "core/text.h"

namespace {

// A URL part as curl gives it (flags as for curl_url_get), or empty when the URL has none.
std::string url_part(CURLU* url, CURLUPart part, unsigned int flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) return {};
  std::string value(text);
  curl_free(text);
  return value;
}

// Length of UTF-8 text in UTF-16 units.
std::size_t wide_length(const std::string& text) {
  return utf8_to_wide(text)->size();
}

}  // namespace

std::variant<HttpUrl, CURLcode> parse_http_url(std::u16string_view url) {
  const std::string text = *wide_to_utf8(url);
  if (text.find('\0') != std::string::npos) return CURLE_URL_MALFORMAT;
  CurlUrl parts(curl_url());
  if (!parts) return CURLE_OUT_OF_MEMORY;
  // Schemes curl does not know are kept so that they fail below as another scheme, not as
  // a malformed URL.
  if (curl_url_set(parts.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
      CURLUE_OK) {
    return CURLE_URL_MALFORMAT;
  }
  const std::string scheme = url_part(parts.get(), CURLUPART_SCHEME);
  if (scheme != "http" && scheme != "https") return CURLE_UNSUPPORTED_PROTOCOL;
  const std::string host = url_part(parts.get(), CURLUPART_HOST);
  if (host.empty() || wide_length(host) >= URL_HOST_LIMIT) return CURLE_URL_MALFORMAT;
  std::string target = url_part(parts.get(), CURLUPART_PATH);
  const std::string query = url_part(parts.get(), CURLUPART_QUERY);
  if (!query.empty()) target += "?" + query;
  const std::string fragment = url_part(parts.get(), CURLUPART_FRAGMENT);
  if (!fragment.empty()) target += "#" + fragment;
  if (wide_length(target) >= URL_PATH_LIMIT) return CURLE_URL_MALFORMAT;
  return HttpUrl{std::move(parts), scheme == "https"};
}

bool same_origin(const HttpUrl& a, const HttpUrl& b) {
  return a.secure == b.secure &&
         url_part(a.parts.get(), CURLUPART_HOST) == url_part(b.parts.get(), CURLUPART_HOST) &&
         url_part(a.parts.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT) ==
             url_part(b.parts.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
}

bool plain_http_off_this_machine(const HttpUrl& url) {
  if (url.secure) return false;
  const std::string host = url_part(url.parts.get(), CURLUPART_HOST);
  // curl itself takes "localhost" to the loopback addresses, never to the name service.
  if (equals_ignoring_case(host, "localhost")) return false;
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) != 127;
  in6_addr v6{};
  if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
      inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) == 1) {
    return !IN6_IS_ADDR_LOOPBACK(&v6);
  }
  return true;
}
