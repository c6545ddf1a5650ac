// The upload worker end to end: a printed file in a real output folder, a real server on
// loopback, and the result as the page receives it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "core/config.h"
#include "core/log.h"
#include "core/text.h"
#include "net/http_client.h"
#include "net/workers.h"
#include "tests/e2e/private_network.h"
#include "tests/net/lib_server.h"
#include "tests/net/loopback_server.h"
#include "tests/net/page_capture.h"
#include "tests/support/app_process.h"
#include "tests/support/fax_service_process.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint64_t LIMIT = 157286400;
constexpr const char* TOKEN = "tok.SECRET-123";

std::u16string wide(const std::string& text) {
  return *utf8_to_wide(text);
}

bool exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

// A sparse file of size bytes whose first bytes are head.
bool make_sparse_file(const std::string& path, uint64_t size, const std::string& head) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const bool written = write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                       ftruncate(fd, static_cast<off_t>(size)) == 0;
  close(fd);
  return written;
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    http_client_init();
    output_ = dir_ / "out";
    mkdir(output_.c_str(), 0700);
    AppConfig config;
    config.output_folder = folder_path(output_);
    config.app_version = u"1.2.3";
    set_app_config(config);
    ASSERT_TRUE(log_open(dir_ / "test.log"));
  }
  void TearDown() override { log_close(); }

  std::string log_text() const { return read_file(dir_ / "test.log"); }

  std::vector<PageEvent> upload(const std::string& path, const std::string& url) {
    auto request = std::make_unique<BridgeRequest>();
    request->first = wide(path);
    request->second = wide(TOKEN);
    request->third = wide(url);
    return page_.run_worker(upload_to_page, std::move(request));
  }

  // Expects exactly one event: the page's upload result for path.
  void expect_result(const std::vector<PageEvent>& events, const std::string& path,
                     std::optional<std::u16string> storage, std::optional<std::u16string> error) {
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].is_box);
    EXPECT_TRUE(events[0].on_ui_thread);
    EXPECT_EQ(events[0].text, PageCapture::upload_script(wide(path), storage, error));
  }

  TempDir dir_;
  std::string output_;
  PageCapture page_;
};

TEST_F(UploadTest, SendsTheExactMultipartBodyAndHeaders) {
  const std::string content = std::string("%PDF-1.7\n\0\r\n--Boundary-x\xff", 25) + "%%EOF\n";
  // The longest name the file system allows, with two-byte characters, goes in whole.
  std::string long_name;
  while (long_name.size() < 250) long_name += "\xc3\xa9";
  long_name += ".pdf";
  for (const std::string& name : {std::string("doc 1.pdf"), long_name}) {
    SCOPED_TRACE(name);
    const std::string path = output_ + "/" + name;
    ASSERT_TRUE(write_file(path, content));
    std::vector<RawRequest> seen;
    RawServer server([&](int fd, int) {
      if (auto request = read_request(fd)) seen.push_back(*request);
      send_text(fd, http_response(201, "{\"path\":\"store/1\"}"));
    });
    const auto events = upload(path, server.url("/api/upload?folder=a%20b"));
    expect_result(events, path, u"store/1", std::nullopt);
    ASSERT_EQ(seen.size(), 1u);
    const RawRequest& request = seen[0];
    EXPECT_TRUE(request.head.starts_with("POST /api/upload?folder=a%20b HTTP/1.1\r\n"));

    const std::string content_type = header_value(request, "content-type").value_or("");
    const std::string prefix = "multipart/form-data; boundary=";
    ASSERT_TRUE(content_type.starts_with(prefix + "Boundary-")) << content_type;
    const std::string boundary = content_type.substr(prefix.size());
    ASSERT_EQ(boundary.size(), 25u);
    EXPECT_EQ(boundary.find_first_not_of("0123456789ABCDEF", 9), std::string::npos) << boundary;
    // Exactly the five headers of the upload and those of every request, nothing else.
    std::vector<std::string> names;
    for (const auto& header : request.headers) names.push_back(header.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"authorization", "content-length", "content-type",
                                               "host", "user-agent", "x-kest-app",
                                               "x-kest-app-version", "x-kest-client-id"}));
    EXPECT_EQ(header_value(request, "authorization"), std::string("Bearer ") + TOKEN);
    EXPECT_EQ(header_value(request, "x-kest-app"), "platform=printer;appname=telvana;appver=1.2.3");
    EXPECT_EQ(header_value(request, "x-kest-app-version"), "web");
    EXPECT_EQ(header_value(request, "x-kest-client-id"), "fax-printer-client");
    EXPECT_EQ(header_value(request, "user-agent"), "TelvanaPrint/1.0");
    const std::string expected_body = "--" + boundary +
                                      "\r\nContent-Disposition: form-data; name=\"file\"; "
                                      "filename=\"" +
                                      name + "\"\r\nContent-Type: application/pdf\r\n\r\n" +
                                      content + "\r\n--" + boundary + "--\r\n";
    EXPECT_EQ(request.body, expected_body);
    EXPECT_EQ(header_value(request, "content-length"), std::to_string(expected_body.size()));
    // The worker never deletes a file it has uploaded.
    EXPECT_TRUE(exists(path));
  }
  const std::string log = log_text();
  EXPECT_NE(log.find("[uploadPrintedFile] POST http://127.0.0.1:"), std::string::npos) << log;
  EXPECT_NE(log.find("/api/upload?folder=a%20b (0 KB, proxy=WinHTTP default)"), std::string::npos);
  EXPECT_NE(log.find("[uploadPrintedFile] HTTP 201 OK -> store/1"), std::string::npos);
  EXPECT_EQ(log.find("SECRET"), std::string::npos) << "the token must not reach the log";
}

TEST_F(UploadTest, ResponsesMapToTheResultAndLogLine) {
  const std::string long_body(1000, 'L');
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
      "4\r\n{\"pa\r\n3\r\nth\"\r\n7\r\n:\"x/y\"}\r\n0\r\n\r\n";
  struct Case {
    const char* name;
    std::string response;
    std::optional<std::u16string> storage;
    std::optional<std::u16string> error;
    std::string log_line;
  };
  const Case cases[] = {
      {"200 with path", http_response(200, "{\"id\":1,\"path\":\"abc\"}"), u"abc", std::nullopt,
       "[uploadPrintedFile] HTTP 200 OK -> abc\n"},
      {"200 without body", http_response(200, ""), u"", std::nullopt,
       "[uploadPrintedFile] HTTP 200 OK -> \n"},
      {"200 without path", http_response(200, "{\"id\":1}"), std::nullopt, std::nullopt,
       "[uploadPrintedFile] HTTP 200 OK -> (missing path)\n"},
      {"200 path not a string", http_response(200, "{\"path\":7}"), std::nullopt, std::nullopt,
       "[uploadPrintedFile] HTTP 200 OK -> (missing path)\n"},
      {"201", http_response(201, "{\"path\":\"new\"}"), u"new", std::nullopt,
       "[uploadPrintedFile] HTTP 201 OK -> new\n"},
      {"204", http_response(204, ""), u"", std::nullopt, "[uploadPrintedFile] HTTP 204 OK -> \n"},
      {"body in chunks", chunked, u"x/y", std::nullopt, "[uploadPrintedFile] HTTP 200 OK -> x/y\n"},
      {"413 long body", http_response(413, long_body), std::nullopt, u"HTTP 413",
       "[uploadPrintedFile] HTTP 413: " + std::string(400, 'L') + "\n"},
      {"500 empty", http_response(500, ""), std::nullopt, u"HTTP 500",
       "[uploadPrintedFile] HTTP 500: (empty response)\n"},
      // A redirect that is not followed is the answer, with its body.
      {"302 to another origin",
       http_response(302, "moved away", "Location: https://x.invalid/up\r\n"), std::nullopt,
       u"HTTP 302", "[uploadPrintedFile] HTTP 302: moved away\n"},
      // The body is text up to its first NUL.
      {"path after NUL", http_response(200, std::string("{\"id\":1}\0{\"path\":\"x\"}", 21)),
       std::nullopt, std::nullopt, "[uploadPrintedFile] HTTP 200 OK -> (missing path)\n"},
      {"500 with NUL", http_response(500, std::string("oops\0junk", 9)), std::nullopt, u"HTTP 500",
       "[uploadPrintedFile] HTTP 500: oops\n"},
      {"cut short", "HTTP/1.1 201 OK\r\nContent-Length: 100\r\n\r\n{\"path\":\"", std::nullopt,
       u"WinHttpQueryDataAvailable failed (WinHTTP 18: Transferred a partial file)",
       "[uploadPrintedFile] Request error: WinHttpQueryDataAvailable failed (WinHTTP 18: "
       "Transferred a partial file)\n"},
  };
  const std::string path = output_ + "/job.pdf";
  ASSERT_TRUE(write_file(path, "%PDF-1.4 small"));
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    log_close();
    const std::string log_path = dir_ / (std::string(test.name) + ".log");
    ASSERT_TRUE(log_open(log_path));
    RawServer server([&](int fd, int) {
      if (read_request(fd)) send_text(fd, test.response);
    });
    expect_result(upload(path, server.url("/up")), path, test.storage, test.error);
    const std::string log = read_file(log_path);
    EXPECT_NE(log.find(test.log_line), std::string::npos) << log;
    EXPECT_TRUE(exists(path));
  }
}

TEST_F(UploadTest, FileNamesCannotEndOrExtendTheirPartHeader) {
  // The fax stand-in parses the body with Python's own multipart (email) parser.
  FaxServiceProcess service(TOKEN);
  ASSERT_TRUE(service.started());
  const std::pair<std::string, std::string> cases[] = {
      {"a\"b.pdf", "a%22b.pdf"},
      {"x\"; name=\"evil\"; filename=\"evil.pdf", "x%22; name=%22evil%22; filename=%22evil.pdf"},
      {"back\\slash\\.pdf", "back%5Cslash%5C.pdf"},
      {"line\r\nContent-Type: text-html\r\n\r\nx.pdf",
       "line%0D%0AContent-Type: text-html%0D%0A%0D%0Ax.pdf"},
      {"100% plain;=.pdf", "100% plain;=.pdf"},
  };
  for (const auto& [name, sent] : cases) {
    SCOPED_TRACE(sent);
    const std::string path = output_ + "/" + name;
    ASSERT_TRUE(write_file(path, "%PDF-1.4 named"));
    ASSERT_EQ(upload(path, service.url("/upload")).size(), 1u);
    const std::string requests = service.requests();
    const std::string last = requests.substr(requests.rfind("{\"method\""));
    EXPECT_NE(last.find("\"files\": [{\"name\": \"" + sent + "\", \"size\": 14,"),
              std::string::npos)
        << last;
    EXPECT_EQ(count_of(last, "\"name\": "), 1u) << last;
  }
}

TEST_F(UploadTest, RedirectsKeepMethodAndBodyOnlyWithinTheSameOrigin) {
  const std::string path = output_ + "/job.pdf";
  ASSERT_TRUE(write_file(path, "%PDF-1.4 redirected"));
  std::vector<std::string> arrived;  // method and body of each request that reached /final
  LibServer server(std::make_unique<httplib::Server>());
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  server.server().Post(R"(/r/(\d+))",
                       [&](const httplib::Request& request, httplib::Response& response) {
                         response.set_redirect(base + "/final", std::stoi(request.matches[1]));
                         response.set_content("moved", "text/plain");
                       });
  server.server().Post("/cross", [&](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("http://localhost:" + std::to_string(server.port()) + "/final", 307);
    response.set_content("moved", "text/plain");
  });
  auto final_handler = [&](const httplib::Request& request, httplib::Response& response) {
    arrived.push_back(
        request.method + " " +
        (request.has_file("file") ? request.get_file_value("file").content : request.body));
    response.set_content("{\"path\":\"stored\"}", "application/json");
  };
  server.server().Post("/final", final_handler);
  server.server().Get("/final", final_handler);

  struct Case {
    std::string target;
    std::optional<std::u16string> upload_error;  // absent: stored
    std::optional<std::u16string> token_error;   // absent: the final answer
  };
  const Case cases[] = {
      {"/r/301", u"HTTP 301", u"HTTP 301: moved"}, {"/r/302", u"HTTP 302", u"HTTP 302: moved"},
      {"/r/303", u"HTTP 303", u"HTTP 303: moved"}, {"/r/307", std::nullopt, std::nullopt},
      {"/r/308", std::nullopt, std::nullopt},      {"/cross", u"HTTP 307", u"HTTP 307: moved"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    arrived.clear();
    expect_result(upload(path, base + c.target), path,
                  c.upload_error ? std::nullopt : std::optional<std::u16string>(u"stored"),
                  c.upload_error);
    auto request = std::make_unique<BridgeRequest>();
    request->first = wide(base + c.target);
    request->second = u"grant_type=code";
    const auto events = page_.run_worker(token_relay_to_page, std::move(request));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(
        events[0].text,
        PageCapture::token_script(
            c.token_error ? std::nullopt : std::optional<std::u16string>(u"{\"path\":\"stored\"}"),
            c.token_error));
    if (c.upload_error) {
      EXPECT_TRUE(arrived.empty()) << arrived.front();
    } else {
      ASSERT_EQ(arrived.size(), 2u);
      EXPECT_EQ(arrived[0], "POST %PDF-1.4 redirected");
      EXPECT_EQ(arrived[1], "POST grant_type=code");
    }
  }
}

TEST_F(UploadTest, OversizedAnswersAndLineBreaksFailBeforeAnythingIsKept) {
  const std::string path = output_ + "/job.pdf";
  ASSERT_TRUE(write_file(path, "%PDF"));
  const uint64_t limit = HTTP_RESPONSE_BODY_LIMIT;
  // Every request is answered with a body of `size` bytes, announced or in chunks.
  uint64_t size = 0;
  bool chunked = false;
  RawServer server([&](int fd, int) {
    if (!read_request(fd)) return;
    if (!chunked) {
      send_text(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) +
                        "\r\nConnection: close\r\n\r\n");
    } else {
      send_text(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
    }
    const std::string block(1024 * 1024, 'b');
    for (uint64_t sent = 0; sent < size;) {
      const std::string piece = block.substr(0, std::min<uint64_t>(block.size(), size - sent));
      char length[32];
      std::snprintf(length, sizeof length, "%zx\r\n", piece.size());
      if (chunked && !send_text(fd, length)) return;
      if (!send_text(fd, piece) || (chunked && !send_text(fd, "\r\n"))) return;
      sent += piece.size();
    }
    if (chunked) send_text(fd, "0\r\n\r\n");
  });
  const std::u16string read_failed =
      u"WinHttpReadData failed (WinHTTP 63: Maximum file size exceeded)";
  auto run = [&](Worker worker, std::u16string first, std::u16string second, std::u16string third) {
    auto request = std::make_unique<BridgeRequest>();
    request->first = first;
    request->second = second;
    if (worker == upload_to_page) request->third = third;
    const auto events = page_.run_worker(worker, std::move(request));
    return events.size() == 1 ? events[0].text : u"(not one event)";
  };
  const std::u16string url = wide(server.url("/x"));
  for (const bool in_chunks : {false, true}) {
    SCOPED_TRACE(in_chunks ? "chunked" : "announced");
    chunked = in_chunks;
    size = limit + 1;
    EXPECT_EQ(run(http_get_to_page, u"g", url, u""),
              PageCapture::http_get_script(u"g", std::nullopt, wide(GET_TOO_LARGE_ERROR)));
    EXPECT_EQ(run(token_relay_to_page, url, u"a=b", u""),
              PageCapture::token_script(std::nullopt, read_failed));
    EXPECT_EQ(run(upload_to_page, wide(path), wide(TOKEN), url),
              PageCapture::upload_script(wide(path), std::nullopt, read_failed));
    // A body of exactly the limit is an answer like any other.
    size = limit;
    EXPECT_EQ(run(http_get_to_page, u"g", url, u""),
              PageCapture::http_get_script(u"g", std::u16string(limit, u'b'), std::nullopt));
  }

  // A token or URL that would end its line is refused before any connection is made.
  const int connections = server.connections();
  const std::u16string bad_url = url + u"\r\nX-Injected: 1";
  EXPECT_EQ(run(upload_to_page, wide(path), u"tok\r\nX-Injected: 1", url),
            PageCapture::upload_script(wide(path), std::nullopt, u"Token contains CR, LF or NUL"));
  EXPECT_EQ(run(upload_to_page, wide(path), std::u16string(u"tok\0en", 6), url),
            PageCapture::upload_script(wide(path), std::nullopt, u"Token contains CR, LF or NUL"));
  EXPECT_EQ(run(upload_to_page, wide(path), wide(TOKEN), bad_url),
            PageCapture::upload_script(wide(path), std::nullopt, wide(URL_CONTROL_ERROR)));
  EXPECT_EQ(run(token_relay_to_page, url + u"\n", u"a=b", u""),
            PageCapture::token_script(std::nullopt, wide(URL_CONTROL_ERROR)));
  EXPECT_EQ(run(http_get_to_page, u"g", bad_url, u""),
            PageCapture::http_get_script(u"g", std::nullopt, wide(URL_CONTROL_ERROR)));
  EXPECT_EQ(server.connections(), connections);
  EXPECT_NE(log_text().find("[uploadPrintedFile] Refused: the token contains CR, LF or NUL"),
            std::string::npos);
}

TEST_F(UploadTest, TheTokenGoesOverPlainHttpOnlyWithinThisMachine) {
  // A network of the test's own, with a link to another host.
  if (!enter_private_network()) GTEST_SKIP() << "another host needs root";
  OtherHost other;
  ASSERT_TRUE(other.started()) << other.output();
  const std::string path = output_ + "/job.pdf";
  ASSERT_TRUE(write_file(path, "%PDF"));
  const auto answer = [](int fd, int) {
    if (read_request(fd)) send_text(fd, http_response(201, "{\"path\":\"p\"}"));
  };
  RawServer here(answer);
  std::unique_ptr<RawServer> there;
  {
    const OtherHost::Visit visit(other);
    ASSERT_TRUE(visit.entered());
    there = std::make_unique<RawServer>(answer, "10.77.0.2");
  }
  const std::u16string refused = wide(PLAIN_HTTP_TOKEN_ERROR);
  const std::u16string body = u"{\"path\":\"p\"}";
  const struct {
    Worker worker;
    std::string url;
    std::u16string script;
  } cases[] = {
      {upload_to_page, there->url("/upload"),
       PageCapture::upload_script(wide(path), std::nullopt, refused)},
      {token_relay_to_page, there->url("/token"), PageCapture::token_script(std::nullopt, refused)},
      // The other host is there: a GET, which carries no token, reaches it.
      {http_get_to_page, there->url("/page"),
       PageCapture::http_get_script(u"g", body, std::nullopt)},
      {upload_to_page, here.url("/upload"),
       PageCapture::upload_script(wide(path), u"p", std::nullopt)},
      {upload_to_page, "http://localhost:" + std::to_string(here.port()) + "/upload",
       PageCapture::upload_script(wide(path), u"p", std::nullopt)},
      {token_relay_to_page, here.url("/token"), PageCapture::token_script(body, std::nullopt)},
  };
  for (const auto& c : cases) {
    auto request = std::make_unique<BridgeRequest>();
    if (c.worker == upload_to_page) {
      request->first = wide(path);
      request->second = wide(TOKEN);
      request->third = wide(c.url);
    } else if (c.worker == token_relay_to_page) {
      request->first = wide(c.url);
      request->second = u"a=b";
    } else {
      request->first = u"g";
      request->second = wide(c.url);
    }
    const auto events = page_.run_worker(c.worker, std::move(request));
    ASSERT_EQ(events.size(), 1u) << c.url;
    EXPECT_EQ(events[0].text, c.script) << c.url;
  }
  // Nothing but the GET arrived there; every refusal is in the log.
  EXPECT_EQ(there->connections(), 1);
  EXPECT_EQ(here.connections(), 3);
  const std::string log = log_text();
  EXPECT_NE(log.find("[uploadPrintedFile] Refused: the token is not sent unencrypted to " +
                     there->url("/upload")),
            std::string::npos)
      << log;
  EXPECT_NE(
      log.find("[postToken] Refused: the token is not sent unencrypted to " + there->url("/token")),
      std::string::npos)
      << log;
  // What counts as this machine.
  for (const auto& [url, off_machine] : std::initializer_list<std::pair<const char*, bool>>{
           {"http://LOCALHOST:1/", false},
           {"http://127.255.0.9/", false},
           {"http://[::1]:8/x", false},
           {"https://fax.example.com/", false},
           {"http://fax.example.com/", true},
           {"http://localhost.fax.example.com/", true},
           {"http://[::ffff:127.0.0.1]/", true},
           {"http://10.0.0.1/", true}}) {
    EXPECT_EQ(token_url_unencrypted(wide(url)), off_machine) << url;
  }
}

TEST_F(UploadTest, FailedExchangeGivesItsFailureText) {
  const auto certificate = make_test_certificate(dir_.path());
  ASSERT_TRUE(certificate);
  const std::string path = output_ + "/job.pdf";
  ASSERT_TRUE(write_file(path, "%PDF"));
  // A TLS server whose certificate nobody trusts: the handshake fails, nothing is uploaded.
  std::atomic<int> requests{0};
  LibServer untrusted(std::make_unique<httplib::SSLServer>(certificate->cert_file.c_str(),
                                                           certificate->key_file.c_str()));
  untrusted.server().Post("/up", [&](const httplib::Request&, httplib::Response& response) {
    ++requests;
    response.set_content("{\"path\":\"leak\"}", "application/json");
  });
  // A server that answers a TLS handshake with plain HTTP.
  RawServer plain([](int fd, int) {
    wait_readable(fd);
    send_text(fd, http_response(400, "plain"));
  });
  struct Case {
    const char* name;
    std::string url;
    std::u16string error_start;
  };
  const Case cases[] = {
      {"unreachable", "http://127.0.0.1:" + std::to_string(unused_port()) + "/up",
       u"WinHttpSendRequest failed (WinHTTP 7: Couldn't connect to server)"},
      {"unparsable", "htp:/nowhere", u"WinHttpCrackUrl failed (WinHTTP 1: Unsupported protocol)"},
      {"untrusted certificate", "https://127.0.0.1:" + std::to_string(untrusted.port()) + "/up",
       u"WinHttpSendRequest failed (WinHTTP 60: "},
      {"plain server", "https://127.0.0.1:" + std::to_string(plain.port()) + "/up",
       u"WinHttpSendRequest failed (WinHTTP 35: "},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const auto events = upload(path, test.url);
    ASSERT_EQ(events.size(), 1u);
    const std::string log = log_text();
    EXPECT_NE(log.find("[uploadPrintedFile] Request error: " + *wide_to_utf8(test.error_start)),
              std::string::npos)
        << log;
    // The page gets the same text as the log.
    const std::size_t at = log.rfind("Request error: ") + 15;
    const std::u16string error = wide(log.substr(at, log.find('\n', at) - at));
    EXPECT_EQ(events[0].text, PageCapture::upload_script(wide(path), std::nullopt, error));
  }
  EXPECT_EQ(requests, 0);
}

TEST_F(UploadTest, OnlyRegularFilesInTheOutputFolderAreRead) {
  const std::string outside_folder = dir_ / "elsewhere";
  mkdir(outside_folder.c_str(), 0700);
  const std::string outside = outside_folder + "/secret.pdf";
  ASSERT_TRUE(write_file(outside, "not for upload"));
  ASSERT_EQ(symlink(outside.c_str(), (output_ + "/link.pdf").c_str()), 0);
  ASSERT_EQ(mkdir((output_ + "/folder.pdf").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((output_ + "/pipe.pdf").c_str(), 0600), 0);
  // Files the folder holds beside printed documents: the log, a rotated log, a profile file.
  for (const char* name : {"telvana-print.log", "telvana-print.log.1", "notes.txt"}) {
    ASSERT_TRUE(write_file(output_ + "/" + name, "not for upload"));
  }
  struct Case {
    const char* name;
    std::string path;
    bool logged;
  };
  const Case cases[] = {
      {"gone before the worker ran", output_ + "/gone.pdf", false},
      {"another folder", outside, true},
      {"dot dot", output_ + "/../elsewhere/secret.pdf", true},
      {"nested", output_ + "/folder.pdf/x.pdf", true},
      {"symlink leading out", output_ + "/link.pdf", true},
      {"directory", output_ + "/folder.pdf", true},
      {"fifo", output_ + "/pipe.pdf", true},
      {"the folder itself", output_, true},
      {"the log file", output_ + "/telvana-print.log", true},
      {"the rotated log", output_ + "/telvana-print.log.1", true},
      {"another kind of file", output_ + "/notes.txt", true},
  };
  RawServer server([](int fd, int) {
    if (read_request(fd)) send_text(fd, http_response(200, "{\"path\":\"leak\"}"));
  });
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    log_close();
    const std::string log_path = dir_ / (std::string(test.name) + ".log");
    ASSERT_TRUE(log_open(log_path));
    expect_result(upload(test.path, server.url("/up")), test.path, std::nullopt,
                  u"Cannot read file");
    const std::string log = read_file(log_path);
    EXPECT_EQ(log.find("[uploadPrintedFile] Refused: ") != std::string::npos, test.logged) << log;
  }
  EXPECT_EQ(server.connections(), 0);
  // The extension is matched without regard to case, and it may be the whole name.
  for (const char* name : {"Upper.PdF", ".pdf"}) {
    const std::string pdf = output_ + "/" + name;
    ASSERT_TRUE(write_file(pdf, "%PDF"));
    expect_result(upload(pdf, server.url("/up")), pdf, u"leak", std::nullopt);
  }
  EXPECT_EQ(read_file(outside), "not for upload");
  EXPECT_TRUE(exists(output_ + "/link.pdf"));
  EXPECT_TRUE(exists(output_ + "/folder.pdf"));
}

TEST_F(UploadTest, FileAtTheLimitIsUploadedAndOneByteMoreIsRefused) {
  struct Case {
    const char* name;
    uint64_t size;
    const char16_t* megabytes;  // as the warning gives it; null when the file is uploaded
  };
  const Case cases[] = {
      {"empty", 0, nullptr},
      {"exactly the limit", LIMIT, nullptr},
      {"one byte over", LIMIT + 1, u"150"},
      {"200 MB", 209715200, u"200"},
      {"over 4 GiB", (uint64_t{1} << 32) + 1, u"4096"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string name = std::string("big ") + test.name + ".pdf";
    const std::string path = output_ + "/" + name;
    ASSERT_TRUE(make_sparse_file(path, test.size, test.size ? "%PDF" : ""));
    std::optional<RawRequest> seen;
    RawServer server([&](int fd, int) {
      seen = read_request(fd, 1024);
      send_text(fd, http_response(200, "{\"path\":\"p\"}"));
    });
    log_close();
    const std::string log_path = dir_ / (std::string(test.name) + ".log");
    ASSERT_TRUE(log_open(log_path));
    const auto events = upload(path, server.url("/up"));
    const std::string log = read_file(log_path);
    if (!test.megabytes) {
      expect_result(events, path, u"p", std::nullopt);
      ASSERT_TRUE(seen);
      EXPECT_TRUE(seen->complete);
      const std::string boundary = seen->body.substr(2, 25);
      const std::string head = "--" + boundary +
                               "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                               name + "\"\r\nContent-Type: application/pdf\r\n\r\n";
      const std::string tail = "\r\n--" + boundary + "--\r\n";
      EXPECT_EQ(seen->body_length, head.size() + test.size + tail.size());
      EXPECT_TRUE(seen->body.starts_with(head + (test.size ? "%PDF" : tail)));
      EXPECT_TRUE(seen->body_tail.ends_with(tail));
      EXPECT_TRUE(exists(path));
      EXPECT_NE(log.find(" (" + std::to_string(test.size / 1024) + " KB, proxy=WinHTTP default)"),
                std::string::npos);
      continue;
    }
    // The page hears first, then the user is warned; nothing is sent and the file is gone.
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text,
              PageCapture::upload_script(wide(path), std::nullopt, u"native_handled"));
    EXPECT_TRUE(events[1].is_box);
    EXPECT_TRUE(events[1].on_ui_thread);
    EXPECT_EQ(events[1].caption, u"File cannot be faxed");
    EXPECT_EQ(events[1].icon, MessageBoxIcon::warning);
    EXPECT_EQ(events[1].text, u"The file \u201C" + wide(name) + u"\u201D is too large to fax (" +
                                  test.megabytes + u" MB). The limit is 150 MB.");
    EXPECT_EQ(server.connections(), 0);
    EXPECT_FALSE(exists(path));
    EXPECT_NE(log.find("[uploadPrintedFile] File too large: " + std::to_string(test.size) +
                       " bytes - deleting and alerting user.\n"),
              std::string::npos)
        << log;
  }
}

TEST_F(UploadTest, FileThatShrinksWhileSendingGivesCannotReadFile) {
  const std::string path = output_ + "/shrinking.pdf";
  ASSERT_TRUE(make_sparse_file(path, 64 << 20, "%PDF"));
  RawServer server([&](int fd, int) {
    // Cut the file before taking in any byte of the body: far more than fits in the sockets'
    // buffers is still to be read from it.
    if (!read_request_head(fd)) return;
    if (truncate(path.c_str(), 1 << 20) != 0) return;
    drain_until_closed(fd);
  });
  expect_result(upload(path, server.url("/up")), path, std::nullopt, u"Cannot read file");
  EXPECT_NE(log_text().find("could not be read in full"), std::string::npos);
  EXPECT_TRUE(exists(path));
}

}  // namespace
