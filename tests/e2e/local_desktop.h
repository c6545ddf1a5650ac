// The print services of a Debian desktop, each in its installed default configuration: the system
// message bus, avahi-daemon and the CUPS scheduler. They run in a mount namespace of their own
// (its own /run, CUPS configuration copy, spool and logs, and name service configuration), in the
// network of the thread that creates them, so that they never meet the machine's own.
#pragma once

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

struct CommandRun {
  int status = -1;
  std::string output;  // stdout and stderr
};

// The "hosts:" lines of the name services a desktop may have.
inline constexpr const char* HOSTS_WITHOUT_MDNS = "files dns";
inline constexpr const char* HOSTS_WITH_MDNS = "files mdns4_minimal [NOTFOUND=return] dns";

class LocalDesktop {
 public:
  // Starts the bus, CUPS and, when with_avahi, avahi-daemon; hosts is the "hosts:" line of the
  // desktop's nsswitch.conf. started() tells whether all of that did.
  explicit LocalDesktop(const std::string& hosts = HOSTS_WITHOUT_MDNS, bool with_avahi = true);
  ~LocalDesktop();
  LocalDesktop(const LocalDesktop&) = delete;
  LocalDesktop& operator=(const LocalDesktop&) = delete;

  bool started() const { return started_; }
  // Starts avahi-daemon (again); true once it has completed its start-up.
  bool start_avahi();
  void stop_avahi();
  // The value of DBUS_SYSTEM_BUS_ADDRESS for processes outside the desktop.
  std::string bus_address() const;
  // Runs a shell command on the desktop, as its applications run (its bus, CUPS and name
  // service), with at most two minutes to finish.
  CommandRun run(const std::string& command) const;
  // What the daemons wrote, CUPS's error log included.
  std::string output() const;

 private:
  bool start_daemon(ChildProcess& daemon, const std::string& command);

  TempDir root_;
  ChildProcess namespace_;  // holds the mount namespace
  ChildProcess bus_;
  ChildProcess cups_;
  ChildProcess avahi_;
  bool started_ = false;
};
