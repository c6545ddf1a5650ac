// The HTTP client against real servers on loopback: well-behaved, misbehaving and TLS ones.
#include "net/http_client.h"

#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/log.h"
#include "core/text.h"
#include "tests/net/lib_server.h"
#include "tests/net/loopback_server.h"
#include "tests/support/temp_dir.h"

namespace {

std::u16string wide(const std::string& text) {
  return *utf8_to_wide(text);
}

int count_of(const std::string& text, const std::string& piece) {
  int count = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    http_client_init();
    ASSERT_TRUE(log_open(dir_ / "test.log"));
  }
  void TearDown() override { log_close(); }
  std::string log_text() const { return read_file(dir_ / "test.log"); }

  TempDir dir_;
};

// A server answering every request with one fixed response after reading the request.
struct ResponseCase {
  const char* name;
  std::string response;
  uint32_t status;
  std::optional<std::string> body;
};

TEST_F(HttpClientTest, ResponsesComeBackWithStatusAndExactBody) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
      "5\r\nfirst\r\n1\r\n-\r\n6\r\nsecond\r\n0\r\n\r\n";
  const ResponseCase cases[] = {
      {"ok", http_response(200, "{\"a\":1}"), 200, "{\"a\":1}"},
      {"created", http_response(201, "made"), 201, "made"},
      {"no content", http_response(204, ""), 204, std::nullopt},
      {"empty 200", http_response(200, ""), 200, std::nullopt},
      {"not found with body", http_response(404, "missing"), 404, "missing"},
      {"chunks", chunked, 200, "first-second"},
      {"binary", http_response(200, std::string("a\0b\xff", 4)), 200, std::string("a\0b\xff", 4)},
  };
  for (const ResponseCase& test : cases) {
    SCOPED_TRACE(test.name);
    RawServer server([&](int fd, int) {
      // Several pieces with pauses: the client must join them.
      if (!read_request(fd)) return;
      const std::string& text = test.response;
      for (std::size_t at = 0; at < text.size(); at += 7) {
        send_text(fd, std::string_view(text).substr(at, 7));
        usleep(1000);
      }
    });
    const HttpResult got = http_get(wide(server.url("/r")));
    EXPECT_FALSE(got.error) << *got.error;
    EXPECT_EQ(got.status, test.status);
    EXPECT_EQ(got.body, test.body);
    const HttpResult posted = http_post(wide(server.url("/r")), std::nullopt, "x=1", false);
    EXPECT_FALSE(posted.error) << *posted.error;
    EXPECT_EQ(posted.status, test.status);
    EXPECT_EQ(posted.body, test.body);
  }
}

TEST_F(HttpClientTest, RequestCarriesQueryHeadersAndBodyAsGiven) {
  std::vector<RawRequest> seen;
  RawServer server([&](int fd, int) {
    if (auto request = read_request(fd)) seen.push_back(*request);
    send_text(fd, http_response(200, "ok"));
  });
  const std::string body = "a=1&b=\xc3\xa9";
  ASSERT_FALSE(http_get(wide(server.url("/get?x=1&y=%20z"))).error);
  ASSERT_FALSE(
      http_post(wide(server.url("/post?k=v")), u"X-One: 1\r\nContent-Type: text/plain", body, true)
          .error);
  ASSERT_EQ(seen.size(), 2u);

  EXPECT_TRUE(seen[0].head.starts_with("GET /get?x=1&y=%20z HTTP/1.1\r\n")) << seen[0].head;
  EXPECT_EQ(header_value(seen[0], "user-agent"), "TelvanaPrint/1.0");
  EXPECT_EQ(header_value(seen[0], "accept"), std::nullopt);

  EXPECT_TRUE(seen[1].head.starts_with("POST /post?k=v HTTP/1.1\r\n")) << seen[1].head;
  EXPECT_EQ(header_value(seen[1], "x-one"), "1");
  EXPECT_EQ(header_value(seen[1], "content-type"), "text/plain");
  EXPECT_EQ(header_value(seen[1], "content-length"), std::to_string(body.size()));
  EXPECT_EQ(header_value(seen[1], "expect"), std::nullopt);
  EXPECT_EQ(header_value(seen[1], "accept"), std::nullopt);
  EXPECT_EQ(seen[1].body, body);
}

TEST_F(HttpClientTest, UrlsThatCannotBeUsedFailAtParsing) {
  RawServer server([](int fd, int) {
    if (read_request(fd)) send_text(fd, http_response(200, "ok"));
  });
  const std::string base = server.url("");
  struct Case {
    const char* name;
    std::string url;
    const char* post_error;
  };
  const Case cases[] = {
      {"other scheme", "ftp://127.0.0.1/file",
       "WinHttpCrackUrl failed (WinHTTP 1: Unsupported protocol)"},
      {"no scheme", "127.0.0.1/x",
       "WinHttpCrackUrl failed (WinHTTP 3: URL using bad/illegal format or missing URL)"},
      {"garbage", "http://exa mple.com:99999999/",
       "WinHttpCrackUrl failed (WinHTTP 3: URL using bad/illegal format or missing URL)"},
      {"host of 256", "http://" + std::string(252, 'h') + ".com/",
       "WinHttpCrackUrl failed (WinHTTP 3: URL using bad/illegal format or missing URL)"},
      {"path of 2048", base + "/" + std::string(2047, 'p'),
       "WinHttpCrackUrl failed (WinHTTP 3: URL using bad/illegal format or missing URL)"},
      {"path and query of 2048", base + "/p?" + std::string(2045, 'q'),
       "WinHttpCrackUrl failed (WinHTTP 3: URL using bad/illegal format or missing URL)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const HttpResult got = http_get(wide(test.url));
    EXPECT_EQ(got.error, "Cannot parse URL");
    EXPECT_EQ(got.status, 0u);
    const HttpResult posted = http_post(wide(test.url), std::nullopt, "", false);
    EXPECT_EQ(posted.error, test.post_error);
  }
  EXPECT_EQ(server.connections(), 0);

  // One unit shorter is a URL like any other.
  const HttpResult longest = http_get(wide(base + "/" + std::string(2046, 'p')));
  EXPECT_FALSE(longest.error);
  EXPECT_EQ(longest.status, 200u);
  const HttpResult longest_query = http_get(wide(base + "/p?" + std::string(2044, 'q')));
  EXPECT_EQ(longest_query.status, 200u);
}

TEST_F(HttpClientTest, UnreachableServerAndBadHeadersFailAtTheirStep) {
  const std::u16string closed = wide("http://127.0.0.1:" + std::to_string(unused_port()) + "/x");
  const HttpResult got = http_get(closed);
  EXPECT_EQ(got.error, "HTTP request failed");
  EXPECT_EQ(got.status, 0u);
  EXPECT_FALSE(got.body);
  EXPECT_EQ(http_post(closed, std::nullopt, "x", false).error,
            "WinHttpSendRequest failed (WinHTTP 7: Couldn't connect to server)");

  RawServer server([](int fd, int) {
    if (read_request(fd)) send_text(fd, http_response(200, "ok"));
  });
  for (const char16_t* headers : {u"X-A: 1\nX-B: 2", u"X-A: 1\r\nno colon", u"X-A: 1\rX-B: 2"}) {
    EXPECT_EQ(http_post(wide(server.url("/")), headers, "x", false).error,
              "WinHttpAddRequestHeaders failed (WinHTTP 43: A libcurl function was given a bad "
              "argument)");
  }
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(HttpClientTest, BodyCutShortIsKeptByGetAndDiscardedByPost) {
  // A connection that ends while the client waits for more of the body fails at the step that
  // waits for body bytes; only a body the client cannot take (over the limit) fails at reading.
  // Either way the status is kept.
  const std::string part = "HTTP/1.1 201 X\r\nContent-Length: 100\r\n\r\n0123456789";
  struct Case {
    const char* name;
    std::string response;
    bool reset;
    std::optional<std::string> got_body;  // absent: http_get fails as too large
    const char* post_error;
  };
  const Case cases[] = {
      {"closed", part, false, "0123456789",
       "WinHttpQueryDataAvailable failed (WinHTTP 18: Transferred a partial file)"},
      {"reset", part, true, "0123456789",
       "WinHttpQueryDataAvailable failed (WinHTTP 56: Failure when receiving data from the peer)"},
      {"over the limit",
       "HTTP/1.1 201 X\r\nContent-Length: " + std::to_string(HTTP_RESPONSE_BODY_LIMIT + 1) +
           "\r\n\r\n",
       false, std::nullopt, "WinHttpReadData failed (WinHTTP 63: Maximum file size exceeded)"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    RawServer server([&](int fd, int) {
      if (!read_request(fd)) return;
      send_text(fd, test.response);
      if (test.reset) {
        // The part must have reached the client before the reset, which discards unsent data;
        // a zero linger time makes the close a reset.
        int unacknowledged = 0;
        while (ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0) usleep(1000);
        const linger abort_on_close{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
      }
    });
    const HttpResult got = http_get(wide(server.url("/")));
    if (test.got_body) {
      EXPECT_FALSE(got.error);
      EXPECT_EQ(got.status, 201u);
      EXPECT_EQ(got.body, test.got_body);
    } else {
      EXPECT_EQ(got.error, GET_TOO_LARGE_ERROR);
    }

    const HttpResult posted = http_post(wide(server.url("/")), std::nullopt, "x", false);
    EXPECT_EQ(posted.error, test.post_error);
    EXPECT_EQ(posted.status, 201u);
    EXPECT_FALSE(posted.body);
  }
}

TEST_F(HttpClientTest, StalledServerFailsAfterTheStallTime) {
  struct Case {
    const char* name;
    bool send_headers;
    const char* post_error;
  };
  const Case cases[] = {
      {"no answer", false, "WinHttpReceiveResponse failed (WinHTTP 28: Timeout was reached)"},
      {"headers then silence", true,
       "WinHttpQueryDataAvailable failed (WinHTTP 28: Timeout was reached)"},
  };
  HttpOptions options;
  options.stall_timeout_seconds = 1;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    RawServer server([&](int fd, int) {
      if (!read_request(fd)) return;
      if (test.send_headers) send_text(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab");
      drain_until_closed(fd);
    });
    HttpBodySource source{1, [](uint64_t, char* buffer, std::size_t) -> std::size_t {
                            buffer[0] = 'x';
                            return 1;
                          }};
    const HttpResult posted =
        http_post_stream(wide(server.url("/")), std::nullopt, source, false, options);
    EXPECT_EQ(posted.error, test.post_error);
    const HttpResult got = http_get(wide(server.url("/")), options);
    if (test.send_headers) {
      EXPECT_FALSE(got.error);
      EXPECT_EQ(got.body, "ab");
    } else {
      EXPECT_EQ(got.error, "HTTP request failed");
    }
  }
}

TEST_F(HttpClientTest, RequestDroppedUnreadIsResentAtMostTwice) {
  struct Case {
    const char* name;
    int drops;
    int processed;
    const char* error;
    int resend_lines;
  };
  const Case cases[] = {
      {"answered on the third send", 2, 1, nullptr, 2},
      {"dropped three times", 3, 0, "WinHttpReceiveResponse failed", 2},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    log_close();
    ASSERT_TRUE(log_open(dir_ / (std::string(test.name) + ".log")));
    int processed = 0;
    RawServer server([&](int fd, int connection) {
      if (connection < test.drops) {
        // Closing with the request unread makes the kernel reset the connection.
        wait_readable(fd);
        return;
      }
      if (read_request(fd)) {
        ++processed;
        send_text(fd, http_response(200, "stored"));
      }
    });
    const HttpResult posted = http_post(wide(server.url("/")), std::nullopt, "payload", false);
    const std::string log = read_file(dir_ / (std::string(test.name) + ".log"));
    if (test.error) {
      ASSERT_TRUE(posted.error);
      EXPECT_TRUE(posted.error->find("failed (WinHTTP 56: ") != std::string::npos ||
                  posted.error->find("failed (WinHTTP 55: ") != std::string::npos)
          << *posted.error;
      EXPECT_EQ(server.connections(), 3);
    } else {
      EXPECT_FALSE(posted.error) << *posted.error;
      EXPECT_EQ(posted.body, "stored");
    }
    EXPECT_EQ(processed, test.processed);
    EXPECT_EQ(count_of(log, "requested resend ("), test.resend_lines) << log;
    EXPECT_EQ(count_of(log, "requested resend (1/2)"), 1) << log;
    EXPECT_EQ(count_of(log, "requested resend (2/2)"), 1) << log;
    EXPECT_EQ(count_of(log, "[WinHTTP] WinHttp"), test.resend_lines) << log;
  }
}

TEST_F(HttpClientTest, RequestReadThenUnansweredIsNeverSentAgain) {
  int received = 0;
  RawServer server([&](int fd, int) {
    if (read_request(fd)) ++received;
  });
  const HttpResult posted = http_post(wide(server.url("/")), std::nullopt, "upload", false);
  EXPECT_EQ(posted.error,
            "WinHttpReceiveResponse failed (WinHTTP 52: Server returned nothing (no headers, no "
            "data))");
  EXPECT_EQ(received, 1);
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(log_text().find("resend"), std::string::npos);
}

TEST_F(HttpClientTest, BodySourceFailureEndsTheExchange) {
  std::atomic<int> complete{0};
  RawServer server([&](int fd, int) {
    auto request = read_request(fd);
    if (request && request->complete) ++complete;
  });
  HttpBodySource source{1 << 20, [](uint64_t offset, char* buffer, std::size_t size) {
                          if (offset >= 1000) return std::size_t{0};
                          const std::size_t count = std::min<std::size_t>(size, 1000 - offset);
                          std::memset(buffer, 'z', count);
                          return count;
                        }};
  const HttpResult posted = http_post_stream(wide(server.url("/")), std::nullopt, source, false);
  ASSERT_TRUE(posted.error);
  EXPECT_TRUE(posted.error->starts_with("WinHttpSendRequest failed (WinHTTP 42: "))
      << *posted.error;
  EXPECT_EQ(complete, 0);
  EXPECT_EQ(log_text().find("resend"), std::string::npos);
}

TEST_F(HttpClientTest, RedirectsAreFollowedExceptFromHttpsToHttp) {
  const auto certificate = make_test_certificate(dir_.path());
  ASSERT_TRUE(certificate) << "openssl could not make a certificate";
  std::atomic<int> plain_hits{0};
  std::string posted_body;
  LibServer plain(std::make_unique<httplib::Server>());
  const std::string plain_base = "http://127.0.0.1:" + std::to_string(plain.port());
  plain.server().Get("/moved", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain_base + "/final", 302);
  });
  plain.server().Post("/keep", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain_base + "/final", 307);
  });
  plain.server().Get("/final", [&](const httplib::Request&, httplib::Response& response) {
    ++plain_hits;
    response.set_content("arrived", "text/plain");
  });
  plain.server().Post("/final", [&](const httplib::Request& request, httplib::Response& response) {
    ++plain_hits;
    posted_body = request.body;
    response.set_content("posted", "text/plain");
  });
  LibServer secure(std::make_unique<httplib::SSLServer>(certificate->cert_file.c_str(),
                                                        certificate->key_file.c_str()));
  secure.server().Get("/down", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain_base + "/final", 302);
    response.set_content("gone down", "text/plain");
  });
  const std::string secure_base = "https://127.0.0.1:" + std::to_string(secure.port());
  // A chain that starts plain may go secure, but never back down.
  plain.server().Get("/up", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(secure_base + "/down", 301);
  });
  plain.server().Get("/choices", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain_base + "/final", 300);
    response.set_content("pick one", "text/plain");
  });
  int loop_hits = 0;
  plain.server().Get("/loop", [&](const httplib::Request&, httplib::Response& response) {
    ++loop_hits;
    response.set_redirect(plain_base + "/loop", 302);
  });
  HttpOptions trusting;
  trusting.ca_file = certificate->cert_file;

  const HttpResult moved = http_get(wide(plain_base + "/moved"));
  EXPECT_EQ(moved.status, 200u);
  EXPECT_EQ(moved.body, "arrived");

  HttpBodySource source{4, [](uint64_t offset, char* buffer, std::size_t size) {
                          const std::string_view text = std::string_view("data").substr(offset);
                          const std::size_t count = std::min(size, text.size());
                          std::memcpy(buffer, text.data(), count);
                          return count;
                        }};
  const HttpResult kept =
      http_post_stream(wide(plain_base + "/keep"), u"Content-Type: a/b", source, false, trusting);
  EXPECT_EQ(kept.status, 200u);
  EXPECT_EQ(kept.body, "posted");
  EXPECT_EQ(posted_body, "data");

  // The redirect not followed is the answer, with its body.
  const int hits_before = plain_hits;
  for (const std::string& start : {secure_base + "/down", plain_base + "/up"}) {
    SCOPED_TRACE(start);
    const HttpResult down = http_get(wide(start), trusting);
    EXPECT_FALSE(down.error);
    EXPECT_EQ(down.status, 302u);
    EXPECT_EQ(down.body, "gone down");
  }
  EXPECT_EQ(plain_hits, hits_before);
  // A 3xx that is not a redirect is not followed either.
  const HttpResult choices = http_get(wide(plain_base + "/choices"));
  EXPECT_EQ(choices.status, 300u);
  EXPECT_EQ(choices.body, "pick one");
  EXPECT_EQ(plain_hits, hits_before);

  // Ten redirects are followed; the eleventh fails the exchange.
  EXPECT_EQ(http_get(wide(plain_base + "/loop")).error, "HTTP request failed");
  EXPECT_EQ(loop_hits, 11);
}

TEST_F(HttpClientTest, HttpsVerifiesTheCertificate) {
  const auto certificate = make_test_certificate(dir_.path());
  ASSERT_TRUE(certificate) << "openssl could not make a certificate";
  std::atomic<int> hits{0};
  LibServer secure(std::make_unique<httplib::SSLServer>(certificate->cert_file.c_str(),
                                                        certificate->key_file.c_str()));
  secure.server().Get("/", [&](const httplib::Request&, httplib::Response& response) {
    ++hits;
    response.set_content("secret", "text/plain");
  });
  secure.server().Post("/", [&](const httplib::Request&, httplib::Response& response) {
    ++hits;
    response.set_content("stored", "text/plain");
  });
  const std::u16string url = wide("https://127.0.0.1:" + std::to_string(secure.port()) + "/");

  EXPECT_EQ(http_get(url).error, "HTTP request failed");
  const HttpResult refused = http_post(url, std::nullopt, "x", true);
  ASSERT_TRUE(refused.error);
  EXPECT_TRUE(refused.error->starts_with("WinHttpSendRequest failed (WinHTTP 60: "))
      << *refused.error;
  EXPECT_EQ(hits, 0);

  HttpOptions trusting;
  trusting.ca_file = certificate->cert_file;
  EXPECT_EQ(http_get(url, trusting).body, "secret");
  HttpBodySource source{1, [](uint64_t, char* buffer, std::size_t) -> std::size_t {
                          buffer[0] = 'x';
                          return 1;
                        }};
  EXPECT_EQ(http_post_stream(url, std::nullopt, source, true, trusting).body, "stored");
  EXPECT_EQ(hits, 2);
}

}  // namespace
