// Starts the real telvana-print in a private HOME/XDG/output folder and talks to it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait_until.h"

// Path of the built executable (set by CMake).
std::string telvana_executable();

// A copy of the executable (a hard link where possible) in dir, beside dir/ui holding a copy of
// ui_source (a folder of page files); the copy's path.
std::string install_beside_ui(const TempDir& dir, const std::string& ui_source);

// How often part occurs in text.
std::size_t count_of(const std::string& text, const std::string& part);

// The IPP port of the printer.
inline constexpr int PRINTER_PORT = 8631;

// True when something accepts TCP connections on 127.0.0.1:port.
bool port_open(int port);

// A socket listening on the loopback address of family (AF_INET or AF_INET6; the IPv6 one only),
// as another program holding port there would; none when the port cannot be taken.
UniqueFd hold_loopback_port(int family, int port);

class AppProcess {
 public:
  // A private home under a fresh temp folder; the output folder is <home>/out unless changed.
  AppProcess();
  ~AppProcess();  // kills a still-running process and, once its helpers are gone, its folders
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  // Environment given to the program on top of the private folders (DISPLAY and friends are
  // passed through from the test's environment).
  std::map<std::string, std::string>& env() { return env_; }
  const std::string& home() const { return home_.path(); }
  const std::string& output_folder() const { return output_folder_; }
  void set_output_folder(const std::string& folder);
  // Runs the executable at path instead of the built one (a copy beside a ui folder of its own).
  void set_executable(const std::string& path) { executable_ = path; }
  std::string log_path() const { return output_folder_ + "/telvana-print.log"; }
  std::string log() const;

  // Starts the program with args; stdout and stderr go to files in the home folder.
  bool start(const std::vector<std::string>& args = {});
  // Starts and waits until the printer answers on its port.
  bool start_and_wait_for_printer(const std::vector<std::string>& args = {});
  // Sends sig; waits for the exit; the exit code, or nullopt on time-out or death by signal.
  std::optional<int> stop(int sig, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return process_.signal(sig, timeout);
  }
  // Waits for the process to end by itself.
  std::optional<int> wait_exit(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return process_.wait_exit(timeout);
  }
  bool running() { return process_.running(); }
  pid_t pid() const { return process_.pid(); }
  std::string stdout_text() const;
  std::string stderr_text() const;

  // Runs the executable once more (a second start) in the same environment; its exit code.
  std::optional<int> run_again(const std::vector<std::string>& args,
                               std::chrono::milliseconds timeout = std::chrono::seconds(20));

 private:
  // How the program is started, its output going to the files named.
  ChildSetup setup(const std::string& output_name, const std::string& error_name) const;
  TempDir home_;
  std::string executable_ = telvana_executable();
  std::string output_folder_;
  std::map<std::string, std::string> env_;
  ChildProcess process_;
};
