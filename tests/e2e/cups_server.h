// A CUPS scheduler of the test's own: private configuration, spool, state and logs, listening on
// a free loopback port, no browsing.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

struct CommandRun {
  int status = -1;
  std::string output;  // stdout and stderr
};

class CupsServer {
 public:
  // Writes the configuration and starts cupsd in the foreground with env added to its
  // environment and to that of run()'s commands; started() tells whether it listens.
  explicit CupsServer(const std::map<std::string, std::string>& env = {});
  CupsServer(const CupsServer&) = delete;
  CupsServer& operator=(const CupsServer&) = delete;

  bool started() const { return started_; }
  // "127.0.0.1:<port>", for the -h option of the CUPS commands.
  std::string server() const;
  // Runs a CUPS command (lpadmin, lp, lpstat) against this scheduler: command -h <server> args.
  CommandRun run(const std::string& command, const std::vector<std::string>& args) const;
  // The scheduler's error log (its debug log).
  std::string error_log() const;

 private:
  TempDir root_;
  std::map<std::string, std::string> env_;
  ChildProcess cupsd_;
  int port_ = 0;
  bool started_ = false;
};

// A TCP port on 127.0.0.1 that nothing listens on just now.
int free_loopback_port();
