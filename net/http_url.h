// Parsing the URL of one exchange, with the length limits of the host and the request target.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string_view>
#include <variant>

// A host name of this many UTF-16 units or more cannot be parsed.
inline constexpr std::size_t URL_HOST_LIMIT = 256;
// A path with its query of this many UTF-16 units or more cannot be parsed.
inline constexpr std::size_t URL_PATH_LIMIT = 2048;

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// A parsed http or https URL.
struct HttpUrl {
  CurlUrl parts;
  bool secure = false;
};

// Parses url; on failure the curl code that names why: CURLE_UNSUPPORTED_PROTOCOL for a scheme
// other than http and https, CURLE_URL_MALFORMAT for anything else that cannot be used.
std::variant<HttpUrl, CURLcode> parse_http_url(std::u16string_view url);

// True when a and b have the same scheme, host and port (a default port counts as given).
bool same_origin(const HttpUrl& a, const HttpUrl& b);

// True when url is plain http to a host that is not this machine ("localhost", 127.0.0.0/8,
// ::1): what is sent there crosses the network unencrypted.
bool plain_http_off_this_machine(const HttpUrl& url);
