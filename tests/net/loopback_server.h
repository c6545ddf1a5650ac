// Real servers on 127.0.0.1 for the network tests: a raw socket server whose behaviour each test
// writes (exact bytes seen, misbehaving peers), and a self-signed certificate for TLS servers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// One request as it arrived on the wire.
struct RawRequest {
  std::string head;    // request line and header lines, up to and without the blank line
  std::string target;  // the request target of the request line
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::string body;       // the first bytes of the body (all of it when small)
  std::string body_tail;  // the last bytes of the body
  uint64_t body_length = 0;
  bool complete = false;  // the whole Content-Length arrived
};

// Value of the header name (lower case) in request, absent when it was not sent.
std::optional<std::string> header_value(const RawRequest& request, std::string_view name);

// Reads one request (head and Content-Length body) from fd; keeps at most keep bytes of the body.
std::optional<RawRequest> read_request(int fd, std::size_t keep = 4 * 1024 * 1024);

// Reads only the request head from fd, leaving the body unread.
std::optional<std::string> read_request_head(int fd);

// Writes all of text to fd; false when the peer is gone.
bool send_text(int fd, std::string_view text);

// "HTTP/1.1 <status> X" with Content-Length and body (no Content-Length for 204 and 304),
// extra header lines (each ending in CR LF) and Connection: close.
std::string http_response(int status, std::string_view body, std::string_view extra = {});

// Blocks until data can be read from fd, without reading it.
void wait_readable(int fd);

// Reads and drops whatever arrives on fd until the peer closes it.
void drain_until_closed(int fd);

// Accepts connections on 127.0.0.1 (or another IPv4 address of the network it is made in) and
// hands each, in turn, to handler on the server's thread; the connection is closed when handler
// returns (with a reset when data was left unread).
class RawServer {
 public:
  using Handler = std::function<void(int fd, int connection)>;
  explicit RawServer(Handler handler, std::string address = "127.0.0.1");
  ~RawServer();
  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;

  int port() const { return port_; }
  // "http://<address>:<port>" + target.
  std::string url(std::string_view target) const;
  int connections() const { return connections_.load(); }

 private:
  void run();
  Handler handler_;
  std::string address_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// A TCP port on 127.0.0.1 that nothing listens on.
int unused_port();

// A throwaway self-signed certificate for 127.0.0.1, made with the openssl tool in folder.
struct TestCertificate {
  std::string cert_file;
  std::string key_file;
};
std::optional<TestCertificate> make_test_certificate(const std::string& folder);
