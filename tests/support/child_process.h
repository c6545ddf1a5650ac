// A helper program (a daemon or a stand-in service) run by a test and ended with it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // stops a still-running process
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv (argv[0] looked up in PATH) with env added to the test's environment; stdout
  // and stderr go to output_path. False when it cannot be started.
  bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& output_path);
  // Sends SIGTERM, then SIGKILL when the process has not ended within timeout.
  void stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool running();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};
