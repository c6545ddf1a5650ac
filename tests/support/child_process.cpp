#include "tests/support/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/wait_until.h"

extern char** environ;

namespace {

// NUL-terminated pointers into strings, for exec.
std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (std::string& text : strings) list.push_back(text.data());
  list.push_back(nullptr);
  return list;
}

// The child's environment as NAME=value texts.
std::vector<std::string> environment(const ChildSetup& setup) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (equals != nullptr)
      merged[std::string(*entry, static_cast<std::size_t>(equals - *entry))] = equals + 1;
  }
  for (const std::string& name : setup.unset) merged.erase(name);
  for (const auto& [name, value] : setup.env) merged[name] = value;
  std::vector<std::string> list;
  for (const auto& [name, value] : merged) list.push_back(name + "=" + value);
  return list;
}

// Points descriptor at path (appended to, made when missing); leaves it as it is without one.
void redirect(int descriptor, const std::string& path) {
  if (path.empty()) return;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd >= 0) dup2(fd, descriptor);
}

}  // namespace

ChildProcess::~ChildProcess() {
  stop();
  if (!own_group_ || pid_ <= 0) return;
  // Helpers of the child (the browser's, for one) outlive it for a moment and may still write
  // into its folders: the group is waited for, then ended.
  const auto group_gone = [&] { return kill(-pid_, 0) != 0 && errno == ESRCH; };
  if (!wait_until(group_gone, std::chrono::seconds(10))) {
    kill(-pid_, SIGKILL);
    wait_until(group_gone);
  }
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildSetup& setup) {
  if (argv.empty()) return false;
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = environment(setup);
  const std::vector<char*> args = pointers(arguments);
  const std::vector<char*> envp = pointers(variables);
  const pid_t parent = getpid();
  status_.reset();
  own_group_ = setup.own_group;
  pid_ = fork();
  if (pid_ == 0) {
    if (setup.own_group) setpgid(0, 0);
    if (setup.end_with_test) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
    }
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    redirect(1, setup.output_path);
    redirect(2, setup.error_path.empty() ? setup.output_path : setup.error_path);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (pid_ > 0 && setup.own_group) setpgid(pid_, pid_);
  return pid_ > 0;
}

bool ChildProcess::start_function(const std::function<int()>& body) {
  status_.reset();
  own_group_ = false;
  pid_ = fork();
  if (pid_ == 0) _exit(body());
  return pid_ > 0;
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  const pid_t reaped = waitpid(pid_, &status, WNOHANG);
  if (reaped == 0) return true;
  status_ = reaped == pid_ ? status : W_EXITCODE(255, 0);
  return false;
}

std::optional<int> ChildProcess::wait_status(std::chrono::milliseconds timeout) {
  wait_until([&] { return !running(); }, timeout);
  return status_;
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds timeout) {
  const std::optional<int> status = wait_status(timeout);
  if (!status || !WIFEXITED(*status)) return std::nullopt;
  return WEXITSTATUS(*status);
}

std::optional<int> ChildProcess::signal(int sig, std::chrono::milliseconds timeout) {
  if (running()) kill(pid_, sig);
  return wait_exit(timeout);
}

void ChildProcess::stop(std::chrono::milliseconds timeout) {
  if (!running()) return;
  kill(pid_, SIGTERM);
  if (!wait_until([&] { return !running(); }, timeout)) kill_now();
}

void ChildProcess::kill_now() {
  if (!running()) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  status_ = status;
}

std::string shell_quote(const std::string& value) {
  std::string quoted = "'";
  for (const char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

std::string run_command(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status) *status = -1;
    return output;
  }
  char buffer[4096];
  std::size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int result = pclose(pipe);
  if (status) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}
