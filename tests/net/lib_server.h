// A cpp-httplib server, plain or TLS, listening on 127.0.0.1 on a thread of its own.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

class LibServer {
 public:
  explicit LibServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  ~LibServer() {
    server_->stop();
    thread_.join();
  }
  LibServer(const LibServer&) = delete;
  LibServer& operator=(const LibServer&) = delete;

  httplib::Server& server() { return *server_; }
  int port() const { return port_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
};
