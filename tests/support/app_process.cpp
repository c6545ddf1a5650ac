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

extern char** environ;

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
  env_["HOME"] = home;
  env_["XDG_DATA_HOME"] = home + "/data";
  env_["XDG_CONFIG_HOME"] = home + "/config";
  env_["XDG_CACHE_HOME"] = home + "/cache";
  env_["XDG_RUNTIME_DIR"] = home + "/runtime";
  env_["WEBKIT_DISABLE_COMPOSITING_MODE"] = "1";
  set_output_folder(home + "/out");
}

AppProcess::~AppProcess() {
  if (pid_ <= 0) return;
  if (!exit_code_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  // The browser's helper processes outlive the program for a moment and may still write into
  // its profile; the private folders are removed only once the whole process group is gone.
  const auto group_gone = [&] { return kill(-pid_, 0) != 0 && errno == ESRCH; };
  if (!wait_until(group_gone, std::chrono::seconds(10))) {
    kill(-pid_, SIGKILL);
    wait_until(group_gone);
  }
}

void AppProcess::set_output_folder(const std::string& folder) {
  output_folder_ = folder;
  env_["TELVANA_OUTPUT_DIR"] = folder;
}

std::string AppProcess::log() const {
  return read_file(log_path());
}

std::vector<std::string> AppProcess::environment() const {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals == nullptr) continue;
    merged[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
  }
  // Folders of the test's own user never leak into the program under test.
  for (const char* name : {"APPDATA", "LOCALAPPDATA", "TELVANA_LOG_FILE", "TELVANA_LOG_LEVEL"}) {
    merged.erase(name);
  }
  for (const auto& [name, value] : env_) merged[name] = value;
  std::vector<std::string> list;
  for (const auto& [name, value] : merged) list.push_back(name + "=" + value);
  return list;
}

namespace {

pid_t spawn(const std::string& executable, const std::vector<std::string>& args,
            const std::vector<std::string>& env, const std::string& out_path,
            const std::string& err_path) {
  std::vector<std::string> argv_strings{executable};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argv_strings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_strings = env;
  std::vector<char*> envp;
  for (auto& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    // A group of its own, so that the helpers it starts can be found and awaited.
    setpgid(0, 0);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);
  return pid;
}

std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds timeout, bool& ended) {
  int status = 0;
  ended = false;
  const bool done = wait_until(
      [&] {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || r < 0;
      },
      timeout);
  if (!done) return std::nullopt;
  ended = true;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return std::nullopt;
}

}  // namespace

bool AppProcess::start(const std::vector<std::string>& args) {
  exit_code_.reset();
  pid_ = spawn(executable_, args, environment(), home() + "/stdout.txt", home() + "/stderr.txt");
  return pid_ > 0;
}

bool AppProcess::start_and_wait_for_printer(const std::vector<std::string>& args) {
  if (!start(args)) return false;
  return wait_until([&] { return port_open(PRINTER_PORT) || !running(); }) && running();
}

bool AppProcess::running() {
  if (pid_ <= 0 || exit_code_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0) return true;
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return false;
}

std::optional<int> AppProcess::wait_exit(std::chrono::milliseconds timeout) {
  if (exit_code_) return *exit_code_ < 128 ? exit_code_ : std::nullopt;
  bool ended = false;
  auto code = wait_for(pid_, timeout, ended);
  if (ended) exit_code_ = code.value_or(255);
  return code;
}

std::optional<int> AppProcess::stop(int sig, std::chrono::milliseconds timeout) {
  if (!running()) return exit_code_ && *exit_code_ < 128 ? exit_code_ : std::nullopt;
  kill(pid_, sig);
  return wait_exit(timeout);
}

std::string AppProcess::stdout_text() const {
  return read_file(home() + "/stdout.txt");
}
std::string AppProcess::stderr_text() const {
  return read_file(home() + "/stderr.txt");
}

std::optional<int> AppProcess::run_again(const std::vector<std::string>& args,
                                         std::chrono::milliseconds timeout) {
  const pid_t pid =
      spawn(executable_, args, environment(), home() + "/stdout2.txt", home() + "/stderr2.txt");
  bool ended = false;
  auto code = wait_for(pid, timeout, ended);
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return code;
}
