#include "tests/support/app_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

std::string telvana_executable() {
  return TELVANA_EXECUTABLE;
}

std::string install_beside_ui(const TempDir& dir, const std::string& ui_source) {
  namespace fs = std::filesystem;
  const std::string exe = dir / "telvana-print";
  std::error_code error;
  if (link(telvana_executable().c_str(), exe.c_str()) != 0) {
    fs::copy_file(telvana_executable(), exe, error);
  }
  fs::copy(ui_source, dir / "ui", fs::copy_options::recursive, error);
  return exe;
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

bool port_open(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return open;
}

UniqueFd hold_loopback_port(int family, int port) {
  UniqueFd fd(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.is_open()) return fd;
  const int yes = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (family == AF_INET6) {
    setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    address.sin6_addr = in6addr_loopback;
    length = sizeof address;
  } else {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof address;
  }
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      listen(fd.get(), 4) != 0) {
    fd.reset();
  }
  return fd;
}

AppProcess::AppProcess() {
  const std::string& home = home_.path();
  for (const char* sub : {"/data", "/config", "/cache", "/runtime"}) {
    mkdir((home + sub).c_str(), 0700);
  }
  env_ = {{"HOME", home},
          {"XDG_DATA_HOME", home + "/data"},
          {"XDG_CONFIG_HOME", home + "/config"},
          {"XDG_CACHE_HOME", home + "/cache"},
          {"XDG_RUNTIME_DIR", home + "/runtime"},
          {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"}};
  set_output_folder(home + "/out");
}

AppProcess::~AppProcess() {
  process_.kill_now();
}

void AppProcess::set_output_folder(const std::string& folder) {
  output_folder_ = folder;
  env_["TELVANA_OUTPUT_DIR"] = folder;
}

std::string AppProcess::log() const {
  return read_file(log_path());
}

ChildSetup AppProcess::setup(const std::string& output_name, const std::string& error_name) const {
  // Folders of the test's own user never leak into the program under test.
  return {.env = env_,
          .output_path = home() + "/" + output_name,
          .error_path = home() + "/" + error_name,
          .unset = {"APPDATA", "LOCALAPPDATA", "TELVANA_LOG_FILE", "TELVANA_LOG_LEVEL"},
          .own_group = true};
}

bool AppProcess::start(const std::vector<std::string>& args) {
  std::vector<std::string> argv{executable_};
  argv.insert(argv.end(), args.begin(), args.end());
  return process_.start(argv, setup("stdout.txt", "stderr.txt"));
}

bool AppProcess::start_and_wait_for_printer(const std::vector<std::string>& args) {
  if (!start(args)) return false;
  return wait_until([&] { return port_open(PRINTER_PORT) || !running(); }) && running();
}

std::string AppProcess::stdout_text() const {
  return read_file(home() + "/stdout.txt");
}
std::string AppProcess::stderr_text() const {
  return read_file(home() + "/stderr.txt");
}

std::optional<int> AppProcess::run_again(const std::vector<std::string>& args,
                                         std::chrono::milliseconds timeout) {
  std::vector<std::string> argv{executable_};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess again;
  if (!again.start(argv, setup("stdout2.txt", "stderr2.txt"))) return std::nullopt;
  const std::optional<int> code = again.wait_exit(timeout);
  again.kill_now();
  return code;
}
