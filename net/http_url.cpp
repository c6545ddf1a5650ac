// Parsing the URL of one exchange.
#include "net/http_url.h"

#include <string>

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
