// The token relay and the page's GET relay against a real server, as the page receives them.
#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "net/http_client.h"
#include "net/workers.h"
#include "tests/net/loopback_server.h"
#include "tests/net/page_capture.h"

namespace {

std::u16string wide(const std::string& text) {
  return *utf8_to_wide(text);
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override { http_client_init(); }

  // Runs worker on request and expects exactly one script: expected.
  void expect_one_script(Worker worker, std::unique_ptr<BridgeRequest> request,
                         const std::u16string& expected) {
    const auto events = page_.run_worker(worker, std::move(request));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].is_box);
    EXPECT_TRUE(events[0].on_ui_thread);
    EXPECT_EQ(events[0].text, expected);
  }

  PageCapture page_;
};

const std::string closed_url() {
  return "http://127.0.0.1:" + std::to_string(unused_port()) + "/x";
}

TEST_F(RelayTest, TokenRelayMapsTheExchange) {
  const std::string body_1000(1000, 'e');
  // Three-byte characters: the 400-byte cut falls inside the 134th.
  std::string utf8_body;
  while (utf8_body.size() < 600) utf8_body += "\xe2\x82\xac";
  struct Case {
    const char* name;
    std::string response;  // empty: no server
    std::optional<std::u16string> body;
    std::optional<std::u16string> error;
  };
  const Case cases[] = {
      {"200 json", http_response(200, "{\"access_token\":\"t\"}"), u"{\"access_token\":\"t\"}",
       std::nullopt},
      {"200 empty", http_response(200, ""), u"{}", std::nullopt},
      {"204", http_response(204, ""), u"{}", std::nullopt},
      {"200 non-ASCII", http_response(200, "{\"n\":\"Jos\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x93\xa0\"}"),
       u"{\"n\":\"Jos\u00e9 \u65e5\U0001F4E0\"}", std::nullopt},
      {"400 long body", http_response(400, body_1000), std::nullopt,
       u"HTTP 400: " + wide(std::string(400, 'e'))},
      {"401 empty", http_response(401, ""), std::nullopt, u"HTTP 401: "},
      {"400 cut inside a character", http_response(400, utf8_body), std::nullopt,
       u"HTTP 400: " + std::u16string(133, u'\u20ac') + u"\uFFFD"},
      // A redirect that is not followed is the answer, with its body.
      {"302 to another origin",
       http_response(302, "see elsewhere", "Location: http://x.invalid/\r\n"), std::nullopt,
       u"HTTP 302: see elsewhere"},
      // The body is text up to its first NUL.
      {"200 with NUL", http_response(200, std::string("{\"a\":1}\0tail", 12)), u"{\"a\":1}",
       std::nullopt},
      {"200 starting with NUL", http_response(200, std::string("\0tail", 5)), u"", std::nullopt},
      {"400 with NUL", http_response(400, std::string("bad\0tail", 8)), std::nullopt,
       u"HTTP 400: bad"},
      {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"a\"", std::nullopt,
       u"WinHttpQueryDataAvailable failed (WinHTTP 18: Transferred a partial file)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::optional<RawRequest> seen;
    RawServer server([&](int fd, int) {
      seen = read_request(fd);
      send_text(fd, test.response);
    });
    auto request = std::make_unique<BridgeRequest>();
    request->first = wide(server.url("/oauth/token"));
    request->second = u"grant_type=code&name=Jos\u00e9 \u20ac";
    expect_one_script(token_relay_to_page, std::move(request),
                      PageCapture::token_script(test.body, test.error));
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->body, "grant_type=code&name=Jos\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(header_value(*seen, "content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(header_value(*seen, "authorization"), std::nullopt);
    EXPECT_EQ(header_value(*seen, "x-kest-client-id"), std::nullopt);
  }

  auto request = std::make_unique<BridgeRequest>();
  request->first = wide(closed_url());
  request->second = u"a=b";
  expect_one_script(
      token_relay_to_page, std::move(request),
      PageCapture::token_script(
          std::nullopt, u"WinHttpSendRequest failed (WinHTTP 7: Couldn't connect to server)"));
}

TEST_F(RelayTest, GetRelayMapsTheExchangeAndKeepsTheId) {
  struct Case {
    const char* name;
    std::string response;
    std::optional<std::u16string> body;
    std::optional<std::u16string> error;
  };
  const Case cases[] = {
      {"200 body", http_response(200, "[1,2]"), u"[1,2]", std::nullopt},
      {"200 empty", http_response(200, ""), u"", std::nullopt},
      {"200 non-ASCII", http_response(200, "\xc3\xbc\xe2\x82\xac\xf0\x9f\x93\xa0 \"q\" \\"),
       u"\u00fc\u20ac\U0001F4E0 \"q\" \\", std::nullopt},
      {"404 with body", http_response(404, "not here"), std::nullopt, u"HTTP 404"},
      {"500 empty", http_response(500, ""), std::nullopt, u"HTTP 500"},
      {"200 with NUL", http_response(200, std::string("ab\0cd", 5)), u"ab", std::nullopt},
      {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n[1,", u"[1,", std::nullopt},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::optional<RawRequest> seen;
    RawServer server([&](int fd, int) {
      seen = read_request(fd);
      send_text(fd, test.response);
    });
    auto request = std::make_unique<BridgeRequest>();
    request->first = u"req-7 \u00fc'\"";
    request->second = wide(server.url("/items?page=2&q=a%20b"));
    expect_one_script(http_get_to_page, std::move(request),
                      PageCapture::http_get_script(u"req-7 \u00fc'\"", test.body, test.error));
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->head.starts_with("GET /items?page=2&q=a%20b HTTP/1.1\r\n"));
  }

  struct FailureCase {
    std::string url;
    std::u16string error;
  };
  const FailureCase failures[] = {
      {"not a url", u"Cannot parse URL"},
      {"file:///etc/passwd", u"Cannot parse URL"},
      {closed_url(), u"HTTP request failed"},
  };
  for (const FailureCase& test : failures) {
    SCOPED_TRACE(test.url);
    auto request = std::make_unique<BridgeRequest>();
    request->first = u"id-1";
    request->second = wide(test.url);
    expect_one_script(http_get_to_page, std::move(request),
                      PageCapture::http_get_script(u"id-1", std::nullopt, test.error));
  }
}

}  // namespace
