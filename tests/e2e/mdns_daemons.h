// A private system message bus and an avahi-daemon on it, confined to the loopback interface,
// for DNS-SD in the test's own network.
#pragma once

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

class MdnsDaemons {
 public:
  // Starts both; started() tells whether avahi-daemon has joined the loopback interface.
  MdnsDaemons();
  ~MdnsDaemons();
  MdnsDaemons(const MdnsDaemons&) = delete;
  MdnsDaemons& operator=(const MdnsDaemons&) = delete;

  bool started() const { return started_; }
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
