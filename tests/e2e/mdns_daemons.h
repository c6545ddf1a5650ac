// A private system message bus and an avahi-daemon on it in its default configuration, for
// DNS-SD in the test's own network (the network of the thread that creates them).
#pragma once

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

class MdnsDaemons {
 public:
  // Starts the bus and, when with_avahi, avahi-daemon; started() tells whether all of that did.
  explicit MdnsDaemons(bool with_avahi = true);
  ~MdnsDaemons();
  MdnsDaemons(const MdnsDaemons&) = delete;
  MdnsDaemons& operator=(const MdnsDaemons&) = delete;

  bool started() const { return started_; }
  // Starts avahi-daemon (again); true once it has completed its start-up.
  bool start_avahi();
  void stop_avahi();
  // The value of DBUS_SYSTEM_BUS_ADDRESS for processes that talk to this avahi-daemon.
  std::string bus_address() const;
  // What both daemons wrote.
  std::string output() const;

 private:
  TempDir root_;
  ChildProcess bus_;
  ChildProcess avahi_;
  bool started_ = false;
};
