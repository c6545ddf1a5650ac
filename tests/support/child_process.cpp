#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "tests/support/app_process.h"

ChildProcess::~ChildProcess() {
  stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env,
                         const std::string& output_path) {
  if (argv.empty()) return false;
  std::vector<std::string> strings = argv;
  std::vector<char*> args;
  for (auto& arg : strings) args.push_back(arg.data());
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    const int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  ended_ = false;
  return pid_ > 0;
}

bool ChildProcess::running() {
  if (pid_ <= 0 || ended_) return false;
  if (waitpid(pid_, nullptr, WNOHANG) == 0) return true;
  ended_ = true;
  return false;
}

void ChildProcess::stop(std::chrono::milliseconds timeout) {
  if (!running()) return;
  kill(pid_, SIGTERM);
  if (!wait_until([&] { return !running(); }, timeout)) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    ended_ = true;
  }
}
