#include "tests/e2e/cups_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/printer/pdf_check.h"
#include "tests/support/app_process.h"

int free_loopback_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

CupsServer::CupsServer(const std::map<std::string, std::string>& env) : env_(env) {
  const std::string& root = root_.path();
  // The filters run as the scheduler's unprivileged user: they must reach the spool and temp
  // folders.
  chmod(root.c_str(), 0755);
  for (const char* sub : {"/conf", "/spool", "/cache", "/state", "/tmp", "/log"}) {
    mkdir((root + sub).c_str(), 0755);
  }
  port_ = free_loopback_port();
  const bool written =
      write_file(root + "/conf/cupsd.conf",
                 "LogLevel debug\n"
                 "Listen 127.0.0.1:" +
                     std::to_string(port_) +
                     "\n"
                     "Browsing No\n"
                     "BrowseLocalProtocols none\n"
                     "DefaultAuthType None\n"
                     "WebInterface No\n"
                     "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                     "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
                     "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                     "</Policy>\n") &&
      write_file(root + "/conf/cups-files.conf", "ServerRoot " + root +
                                                     "/conf\n"
                                                     "RequestRoot " +
                                                     root +
                                                     "/spool\n"
                                                     "CacheDir " +
                                                     root +
                                                     "/cache\n"
                                                     "StateDir " +
                                                     root +
                                                     "/state\n"
                                                     "TempDir " +
                                                     root +
                                                     "/tmp\n"
                                                     "ErrorLog " +
                                                     root +
                                                     "/log/error_log\n"
                                                     "AccessLog " +
                                                     root +
                                                     "/log/access_log\n"
                                                     "PageLog " +
                                                     root +
                                                     "/log/page_log\n"
                                                     "FileDevice No\n");
  if (!written || port_ == 0) return;
  if (!cupsd_.start(
          {"cupsd", "-f", "-c", root + "/conf/cupsd.conf", "-s", root + "/conf/cups-files.conf"},
          env_, root + "/log/cupsd.out")) {
    return;
  }
  started_ = wait_until([&] { return port_open(port_) || !cupsd_.running(); }) && cupsd_.running();
}

std::string CupsServer::server() const {
  return "127.0.0.1:" + std::to_string(port_);
}

CommandRun CupsServer::run(const std::string& command, const std::vector<std::string>& args) const {
  std::string line = "timeout 120 env";
  for (const auto& [name, value] : env_) line += " " + shell_quote(name + "=" + value);
  line += " " + command + " -h " + server();
  for (const std::string& arg : args) line += " " + shell_quote(arg);
  CommandRun result;
  result.output = run_command(line + " 2>&1", &result.status);
  return result;
}

std::string CupsServer::error_log() const {
  return read_file(root_ / "log/error_log") + read_file(root_ / "log/cupsd.out");
}
