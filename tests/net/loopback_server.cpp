// Real loopback servers for the network tests.
#include "tests/net/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "tests/support/child_process.h"

namespace {

constexpr std::size_t TAIL_BYTES = 512;
// Hang guard for a peer that neither sends nor closes.
constexpr int GUARD_MILLISECONDS = 120000;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool wait_for_input(int fd) {
  pollfd poll_fd{fd, POLLIN, 0};
  return poll(&poll_fd, 1, GUARD_MILLISECONDS) > 0;
}

// Reads until the blank line ending the head; the head and any body bytes read past it.
std::optional<std::pair<std::string, std::string>> read_head_and_rest(int fd) {
  std::string data;
  char buffer[65536];
  for (;;) {
    const std::size_t end = data.find("\r\n\r\n");
    if (end != std::string::npos) return std::make_pair(data.substr(0, end), data.substr(end + 4));
    if (!wait_for_input(fd)) return std::nullopt;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return std::nullopt;
    data.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::optional<std::string> header_value(const RawRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (key == name) return value;
  }
  return std::nullopt;
}

std::optional<std::string> read_request_head(int fd) {
  // Peeks so that the body stays unread in the socket.
  std::string data;
  for (;;) {
    if (!wait_for_input(fd)) return std::nullopt;
    char buffer[65536];
    const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_PEEK);
    if (got <= 0) return std::nullopt;
    const std::string_view seen(buffer, static_cast<std::size_t>(got));
    const std::size_t end = seen.find("\r\n\r\n");
    if (end != std::string_view::npos) {
      std::string head(end + 4, '\0');
      recv(fd, head.data(), head.size(), MSG_WAITALL);
      head.resize(end);
      return head;
    }
    if (static_cast<std::size_t>(got) == sizeof buffer) return std::nullopt;
    usleep(1000);
  }
}

std::optional<RawRequest> read_request(int fd, std::size_t keep) {
  auto head_and_rest = read_head_and_rest(fd);
  if (!head_and_rest) return std::nullopt;
  RawRequest request;
  request.head = head_and_rest->first;
  std::size_t line_end = request.head.find("\r\n");
  const std::string request_line = request.head.substr(0, line_end);
  const std::size_t first_space = request_line.find(' ');
  const std::size_t second_space = request_line.find(' ', first_space + 1);
  if (first_space != std::string::npos) {
    request.target = request_line.substr(first_space + 1, second_space - first_space - 1);
  }
  while (line_end != std::string::npos) {
    const std::size_t start = line_end + 2;
    line_end = request.head.find("\r\n", start);
    const std::string line = request.head.substr(start, line_end - start);
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    request.headers.emplace_back(lower(line.substr(0, colon)), value);
  }
  const auto length_text = header_value(request, "content-length");
  const uint64_t length = length_text ? std::strtoull(length_text->c_str(), nullptr, 10) : 0;

  std::string chunk = std::move(head_and_rest->second);
  char buffer[262144];
  for (;;) {
    const std::size_t take =
        static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), length - request.body_length));
    const std::string_view piece(chunk.data(), take);
    if (request.body.size() < keep) {
      request.body.append(piece.substr(0, std::min(piece.size(), keep - request.body.size())));
    }
    request.body_tail.append(piece);
    if (request.body_tail.size() > TAIL_BYTES) {
      request.body_tail.erase(0, request.body_tail.size() - TAIL_BYTES);
    }
    request.body_length += take;
    if (request.body_length == length) break;
    if (!wait_for_input(fd)) return request;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return request;
    chunk.assign(buffer, static_cast<std::size_t>(got));
  }
  request.complete = true;
  return request;
}

bool send_text(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

std::string http_response(int status, std::string_view body, std::string_view extra) {
  std::string response = "HTTP/1.1 " + std::to_string(status) + " X\r\n";
  if (status != 204 && status != 304) {
    response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  response.append(extra);
  response += "Connection: close\r\n\r\n";
  response.append(body);
  return response;
}

void wait_readable(int fd) {
  wait_for_input(fd);
}

void drain_until_closed(int fd) {
  char buffer[65536];
  while (wait_for_input(fd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

RawServer::RawServer(Handler handler, std::string address_text)
    : handler_(std::move(handler)), address_(std::move(address_text)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, address_.c_str(), &address.sin_addr);
  bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listen_fd_, 16);
  socklen_t length = sizeof address;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) std::abort();
  thread_ = std::thread([this] { run(); });
}

RawServer::~RawServer() {
  (void)!write(stop_pipe_[1], "x", 1);
  thread_.join();
  close(listen_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
}

std::string RawServer::url(std::string_view target) const {
  return "http://" + address_ + ":" + std::to_string(port_) + std::string(target);
}

void RawServer::run() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int index = connections_.fetch_add(1);
    handler_(fd, index);
    close(fd);
  }
}

int unused_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::optional<TestCertificate> make_test_certificate(const std::string& folder) {
  TestCertificate certificate{folder + "/cert.pem", folder + "/key.pem"};
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
      certificate.key_file + "' -out '" + certificate.cert_file + "' 2>&1";
  int status = -1;
  run_command(command, &status);
  if (status != 0) return std::nullopt;
  return certificate;
}
