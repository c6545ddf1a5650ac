// A process a test starts (the program, a daemon, a stand-in service, a forked copy of the test
// that must end on its own) and ends with it: the one way the tests start one.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// How a child is set up besides its arguments.
struct ChildSetup {
  // Added to the test's environment, once the names of unset are taken out of it.
  std::map<std::string, std::string> env = {};
  // Where stdout goes (appended), and stderr unless error_path is given; the test's own when
  // empty.
  std::string output_path = {};
  std::string error_path = {};
  std::vector<std::string> unset = {};
  // A process group of its own, so that what it starts is ended with it.
  bool own_group = false;
  // Killed when the test process ends, also when it crashes.
  bool end_with_test = false;
};

// Runs command with the shell and waits for it; its standard output, and its exit status in
// status (-1 when it did not exit).
std::string run_command(const std::string& command, int* status = nullptr);

// value quoted for the shell.
std::string shell_quote(const std::string& value);

class ChildProcess {
 public:
  ChildProcess() = default;
  // Stops a still-running process (SIGTERM, then SIGKILL), and the rest of its own group.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv (argv[0] looked up in PATH unless it holds a '/') with standard input from
  // /dev/null and no signal blocked. False when it cannot be started.
  bool start(const std::vector<std::string>& argv, const ChildSetup& setup = {});
  // Runs body in a forked copy of the test process, which exits with body's result.
  bool start_function(const std::function<int()>& body);

  bool running();
  pid_t pid() const { return pid_; }
  // Waits up to timeout for the end; the wait status (see waitpid), absent while it runs.
  std::optional<int> wait_status(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits likewise; the exit code, absent while it runs or when a signal ended it.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sends sig and waits for the end; the exit code as wait_exit gives it.
  std::optional<int> signal(int sig, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sends SIGTERM, then SIGKILL when the process has not ended within timeout.
  void stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Ends it at once (SIGKILL), as a crash would.
  void kill_now();

 private:
  pid_t pid_ = -1;
  bool own_group_ = false;
  std::optional<int> status_;
};
